// The five click sounds, each loaded on first use and tried once per run.
#pragma once

#include "framework/runtime.h"

namespace fw {
class Sound;
}

fw::Ref<fw::Sound> Click1a();
fw::Ref<fw::Sound> Click2();
fw::Ref<fw::Sound> Click3();
fw::Ref<fw::Sound> Click4();
fw::Ref<fw::Sound> Click5();
