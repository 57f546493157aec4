// The program's entry, called by the runtime's start-up code.
#pragma once

#include "platform/platform.h"

struct InstanceTag;
using Instance = InstanceTag*;

extern "C" int PLATFORM_STDCALL wWinMain(Instance instance, Instance previousInstance,
                                         wchar_t* commandLineTail, int showCommand);
