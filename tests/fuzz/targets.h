#pragma once

#include <cstddef>
#include <cstdint>

// Inputs from outside the program, each taken as arbitrary bytes. A target
// returns false when a property the program relies on breaks; it must never
// crash, hang or leak whatever the bytes.
namespace fuzz {

struct Target {
    const char *name;
    bool (*run)(const uint8_t *data, size_t size);
};

// Sets up what the targets share (a private scratch folder for the file
// based ones, the settings store pointed into it). Call once first.
void Init();

bool Playlist(const uint8_t *data, size_t size);
bool Handover(const uint8_t *data, size_t size);
bool Settings(const uint8_t *data, size_t size);
bool Midi(const uint8_t *data, size_t size);
bool Aiff(const uint8_t *data, size_t size);
bool Mpeg(const uint8_t *data, size_t size);
bool Mp4(const uint8_t *data, size_t size);

inline constexpr Target kTargets[] = {
    {"playlist", Playlist}, {"handover", Handover}, {"settings", Settings}, {"midi", Midi},
    {"aiff", Aiff},         {"mpeg", Mpeg},         {"mp4", Mp4},
};

} // namespace fuzz
