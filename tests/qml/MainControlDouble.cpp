#include "MainControlDouble.h"

#include "ControlJournal.h"

MainControlDouble::MainControlDouble(QObject *parent) : QObject(parent)
{
    ControlJournal::instance()->attach(this);
}

MainControlDouble::~MainControlDouble()
{
    ControlJournal::instance()->detach(this);
}

void MainControlDouble::slotStartUVCConnect()
{
    ControlJournal::instance()->record("slotStartUVCConnect");
}

void MainControlDouble::slotEndUVCConnect()
{
    ControlJournal::instance()->record("slotEndUVCConnect");
}

void MainControlDouble::slotRecord()
{
    ControlJournal::instance()->record("slotRecord");
}

void MainControlDouble::slotPalette()
{
    ControlJournal::instance()->record("slotPalette");
}

void MainControlDouble::slotTrack()
{
    ControlJournal::instance()->record("slotTrack");
}

void MainControlDouble::slotFFC()
{
    ControlJournal::instance()->record("slotFFC");
}

void MainControlDouble::slotZoom(double value)
{
    ControlJournal::instance()->record("slotZoom", value);
}
