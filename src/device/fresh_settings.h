// The vane.ini a new account's folder starts with: packaging/vane.ini as it
// was when the program was built (scripts/run --installed writes the same
// file), compiled from build/generated/fresh_settings.cpp.
#pragma once

extern const char kFreshSettings[];
