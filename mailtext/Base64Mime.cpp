#include "Base64Mime.h"
