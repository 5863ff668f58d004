// The plug-in's per-user settings: the keys of the "microblog" property map, their defaults, and
// how the service reads them.
#pragma once

#include <cstdint>

namespace microblog {

constexpr unsigned kServiceId = 20005;
constexpr const char* kSettingsName = "microblog";

// Keys: the service id in the upper 16 bits, the item in the lower.
constexpr std::uint32_t kKeyAccount = 0x4E250001;
constexpr std::uint32_t kKeyPassword = 0x4E250002;
constexpr std::uint32_t kKeyPromptEnabled = 0x4E250003;
constexpr std::uint32_t kKeyPromptInterval = 0x4E250004;
constexpr std::uint32_t kKeyBound = 0x4E250005;
constexpr std::uint32_t kKeyReserved6 = 0x4E250006;
constexpr std::uint32_t kKeyReserved7 = 0x4E250007;
constexpr std::uint32_t kKeyReserved8 = 0x4E250008;

constexpr int kDefaultPromptInterval = 15;

// The plug-in's registration with the microblog service (OAuth consumer credentials).
constexpr const char* kConsumerKey = "Rk4wZpT7mQs2Ly9B";
constexpr const char* kConsumerSecret = "w7Hc2LqN5tVbX9mR3kPz8YdJ4sFa6GeU";

// State flags of the service.
constexpr unsigned kStateBound = 0x1;
constexpr unsigned kStateSignedIn = 0x2;

} // namespace microblog
