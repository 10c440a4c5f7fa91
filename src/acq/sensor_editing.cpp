#include "acq/sensor_editing.h"
