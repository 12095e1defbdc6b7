#include "camera/CameraProfile.h"

#include "capture/CameraName.h"

namespace {
using Target = CameraProfile::Target;
using Layout = CameraProfile::Layout;

// One kind of camera. A field left empty (no ids, no size) matches any camera.
struct Entry
{
    const char *name;
    const char *cardName; // matched as CameraName matches a wanted name
    quint16 vendorId;     // 0: any
    quint16 productId;
    QSize offers;  // a YUYV size the camera must offer; invalid: any
    Layout layout; // when it offers that size
    QSize request; // the size to ask for; invalid: keep the camera's own
    // record, palette, tracking, flat-field, zoom
    std::array<Target, CameraProfile::CommandCount> targets;
};

constexpr Target kCamera = Target::Camera;
constexpr Target kViewer = Target::Viewer;
constexpr Target kNowhere = Target::Nowhere;

// First match wins.
const Entry kTable[] = {
    // Our own camera: the picture is the frame, the thermal core takes every command.
    {"uvc-camera",
     "UVC Camera",
     0,
     0,
     QSize(),
     Layout::Whole,
     QSize(),
     {kCamera, kCamera, kCamera, kCamera, kCamera}},
    // The common low-cost core: YUYV 256x384 is the 256x192 picture over its temperatures. It takes no
    // command over UVC (contrast and saturation writes fail), and does its flat-field by itself.
    {"generic-split",
     "USB Camera",
     0,
     0,
     QSize(256, 384),
     Layout::Split,
     QSize(256, 384),
     {kViewer, kViewer, kViewer, kNowhere, kViewer}},
};

const Entry kUnknown{"unknown", nullptr,       0,       0,
                     QSize(),   Layout::Whole, QSize(), {kCamera, kCamera, kCamera, kCamera, kCamera}};

bool matches(const Entry &entry, const CameraProfile::Facts &facts)
{
    if (!CameraName::matches(facts.cardName, QString::fromLatin1(entry.cardName)))
        return false;
    const bool idsKnown = facts.vendorId != 0 || facts.productId != 0;
    if (entry.vendorId != 0 && idsKnown &&
        (entry.vendorId != facts.vendorId || entry.productId != facts.productId))
        return false;
    return !entry.offers.isValid() || facts.yuyvSizes.contains(entry.offers);
}

// A frame that holds a picture over its temperatures: height twice an offered picture height. The
// first such size the camera lists; invalid when it offers none.
QSize splitSizeOffered(const QVector<QSize> &sizes)
{
    for (const QSize &size : sizes) {
        if (size.height() % 2 == 0 && sizes.contains(QSize(size.width(), size.height() / 2)))
            return size;
    }
    return {};
}
} // namespace

CameraProfile CameraProfile::choose(const Facts &facts, LayoutOverride override)
{
    const Entry *entry = &kUnknown;
    for (const Entry &candidate : kTable) {
        if (matches(candidate, facts)) {
            entry = &candidate;
            break;
        }
    }
    CameraProfile profile;
    profile.name = QString::fromLatin1(entry->name);
    profile.layout = entry->layout;
    profile.targets = entry->targets;
    if (entry->request.isValid() && facts.yuyvSizes.contains(entry->request))
        profile.requestSize = entry->request;

    if (override == LayoutOverride::Split && profile.layout == Layout::Whole) {
        // The viewer draws the picture from the temperatures: what changes the picture is the viewer's.
        profile.layout = Layout::Split;
        profile.requestSize = splitSizeOffered(facts.yuyvSizes);
        for (Command command : {Palette, Tracking, Zoom})
            profile.targets[size_t(command)] = Target::Viewer;
    } else if (override == LayoutOverride::Whole && profile.layout == Layout::Split) {
        // The frame is shown as the camera sends it: with no temperatures the viewer cannot redraw it.
        profile.layout = Layout::Whole;
        const QSize picture = profile.requestSize.isValid()
                                  ? QSize(profile.requestSize.width(), profile.requestSize.height() / 2)
                                  : QSize();
        profile.requestSize = facts.yuyvSizes.contains(picture) ? picture : QSize();
        for (Command command : {Palette, Tracking}) {
            if (profile.targets[size_t(command)] == Target::Viewer)
                profile.targets[size_t(command)] = Target::Nowhere;
        }
    }
    profile.frameSize = profile.requestSize.isValid() ? profile.requestSize : facts.currentSize;
    profile.pictureSize = profile.layout == Layout::Split
                              ? QSize(profile.frameSize.width(), profile.frameSize.height() / 2)
                              : profile.frameSize;
    return profile;
}

bool CameraProfile::needsSizes(const QString &cardName, LayoutOverride override)
{
    if (override == LayoutOverride::Split)
        return true;
    for (const Entry &entry : kTable) {
        if (CameraName::matches(cardName, QString::fromLatin1(entry.cardName)))
            return entry.offers.isValid();
    }
    return false;
}

bool CameraProfile::parseOverride(const QString &text, LayoutOverride *override)
{
    static const std::pair<const char *, LayoutOverride> names[] = {
        {"auto", LayoutOverride::Auto}, {"whole", LayoutOverride::Whole}, {"split", LayoutOverride::Split}};
    for (const auto &[name, value] : names) {
        if (text == QLatin1String(name)) {
            if (override)
                *override = value;
            return true;
        }
    }
    return false;
}

QString CameraProfile::layoutName(Layout layout)
{
    return layout == Layout::Split ? QStringLiteral("split") : QStringLiteral("whole");
}

QString CameraProfile::layoutText() const
{
    const QString picture = QStringLiteral("%1x%2").arg(pictureSize.width()).arg(pictureSize.height());
    return layout == Layout::Split ? QStringLiteral("split (picture %1 over temperatures)").arg(picture)
                                   : QStringLiteral("whole (picture %1)").arg(picture);
}
