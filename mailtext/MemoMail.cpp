#include "MemoMail.h"
