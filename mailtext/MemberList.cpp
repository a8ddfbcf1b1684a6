#include "MemberList.h"
