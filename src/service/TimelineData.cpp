#include "TimelineData.h"
