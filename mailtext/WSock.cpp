#include "WSock.h"
