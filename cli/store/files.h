#pragma once

// The whole file layer at once, for code written before it was split by job:
// new code includes the header of the job it needs.

#include "store/lock.h"
#include "store/read.h"
#include "store/replace.h"
