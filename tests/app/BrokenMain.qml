import QtQuick 2.12
import NoSuchModuleAnywhere 1.0

Item {}
