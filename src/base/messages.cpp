#include "base/messages.h"

#include "base/app_config.h"

namespace velmora {

std::string Say(const Message& message) {
    return Config().EnglishMessages() ? message.english : message.chinese;
}

}  // namespace velmora
