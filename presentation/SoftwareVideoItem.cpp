#include "presentation/SoftwareVideoItem.h"

#include "presentation/FameProvider.h"
#include "presentation/SoftwareVideoNode.h"

SoftwareVideoItem::SoftwareVideoItem(QQuickItem *parent) : QQuickItem(parent)
{
    setFlag(ItemHasContents, true);
}

QObject *SoftwareVideoItem::source() const
{
    return provider;
}

void SoftwareVideoItem::setSource(QObject *source)
{
    auto *next = qobject_cast<FameProvider *>(source);
    if (next == provider)
        return;
    if (provider) {
        disconnect(provider, nullptr, this, nullptr);
        provider->setImageConsumer(false);
    }
    provider = next;
    if (provider) {
        provider->setImageConsumer(true);
        connect(provider, &FameProvider::imagePresented, this, &SoftwareVideoItem::imageArrived);
    }
    emit sourceChanged();
}

void SoftwareVideoItem::imageArrived()
{
    latest = provider->latestImage();
    changed = true;
    update();
}

QSGNode *SoftwareVideoItem::updatePaintNode(QSGNode *oldNode, UpdatePaintNodeData *)
{
    auto *node = static_cast<SoftwareVideoNode *>(oldNode);
    if (!node)
        node = new SoftwareVideoNode(window());
    node->setRect(boundingRect());
    if (changed) {
        node->setImage(latest);
        latest = QImage(); // the node's copy is the one that keeps the pixels
        changed = false;
    }
    node->markDirty(QSGNode::DirtyMaterial);
    return node;
}
