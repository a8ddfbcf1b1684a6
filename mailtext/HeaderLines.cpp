#include "HeaderLines.h"
