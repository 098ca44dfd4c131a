#include "app/messages.h"

#include "app/app_config.h"

namespace velmora {

std::string Say(const Message& message) {
    return Config().EnglishMessages() ? message.english : message.chinese;
}

}  // namespace velmora
