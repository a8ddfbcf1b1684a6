#include "JisConvert.h"
