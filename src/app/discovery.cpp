#include "app/discovery.h"
