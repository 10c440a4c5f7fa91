#include "acq/sensor_checks.h"
