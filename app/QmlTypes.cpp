#include "app/QmlTypes.h"

void registerQmlTypes()
{
    // The camera session controller registers here as "MainControl" 1.0.
}
