#include "presentation/ConnectCenter.h"

ConnectCenter::ConnectCenter(QObject *parent) : QObject(parent) {}
