// Channel set kinds and the default table of each. A channel set's kind
// byte is stored in files but its defaults are not, so every reader gives a
// set the table of its kind; an owner with a table of its own (a figure's
// placement, a dynamics motion) replaces it after reading.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace zentrope {

// The kinds a choreography uses: a placed figure, the camera, targets and
// lights. (Skeletal, muscle and spine kinds are declared with their
// actions.)
inline constexpr std::uint8_t kFigurePlacementKind = 1;
inline constexpr std::uint8_t kCameraKind = 2;
inline constexpr std::uint8_t kTargetKind = 3;
inline constexpr std::uint8_t kLightKind = 4;

inline constexpr std::uint8_t kCameraChannels = 12;
inline constexpr std::uint8_t kLightChannels = 9;
inline constexpr std::uint8_t kTargetChannels = 1;
inline constexpr std::uint8_t kPlacementChannels = 8;

inline constexpr std::array<float, kCameraChannels> kCameraDefaults = {0, 100, 0, 0, 0, 0,
                                                                       0, 0,   0, 0, 0, 10};
inline constexpr std::array<float, kLightChannels> kLightDefaults = {0, 191, 191, 191, 191,
                                                                     0, 0,   1,   100};
inline constexpr std::array<float, kTargetChannels> kTargetDefaults = {0};
inline constexpr std::array<float, kPlacementChannels> kPlacementDefaults = {0,   100, 100, 100,
                                                                             100, 0,   0,   0};

// The table of a kind: placement, camera, target, light, muscle bias and
// motion, spine and skeletal. Empty for a kind without a fixed table (the
// material kinds, whose tables belong to their nodes, and unknown kinds).
std::span<const float> KindDefaults(std::uint8_t kind);

}  // namespace zentrope
