#include "util/message_box.h"

#include <cstdio>
#include <mutex>
#include <utility>

#include "util/text.h"

namespace hygro {
namespace {

std::mutex g_handlerLock;
MessageHandler g_handler; // guarded by g_handlerLock

} // namespace

MsgAnswer ShowMessage(const std::u16string& text, MsgButtons buttons) {
    MessageHandler handler;
    {
        std::lock_guard lock(g_handlerLock);
        handler = g_handler;
    }
    if (handler) return handler(text, buttons);
    std::fprintf(stderr, "hygrolog: %s\n", ToUtf8(text).c_str());
    return buttons == MsgButtons::YesNo ? MsgAnswer::Yes : MsgAnswer::Ok;
}

MsgAnswer ShowMessage(const std::string& utf8Text, MsgButtons buttons) {
    return ShowMessage(ToUtf16(utf8Text), buttons);
}

MessageHandler SetMessageHandler(MessageHandler handler) {
    std::lock_guard lock(g_handlerLock);
    return std::exchange(g_handler, std::move(handler));
}

} // namespace hygro
