// The platform's kernel and user subset in one include: what programs and layers include.
#pragma once
#include "win32/diagnostics.h"
#include "win32/kernel.h"
#include "win32/types.h"
#include "win32/user.h"
