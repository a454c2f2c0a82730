// The shared base classes the stack is built on: lists with their own lock, and the lock itself.
#pragma once

#include "common/tmutex.h"
#include "common/tobject.h"
