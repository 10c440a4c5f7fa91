// Operator messages in tests: recorded instead of shown.
#pragma once

#include <QString>
#include <string>
#include <vector>

#include "util/message_box.h"

namespace hygro::test {

// Records every message while it lives, answering Ok.
class MessageLog {
  public:
    MessageLog() {
        m_previous = SetMessageHandler([this](const std::u16string& text, MsgButtons) {
            texts.push_back(QString::fromStdU16String(text));
            return MsgAnswer::Ok;
        });
    }
    ~MessageLog() { SetMessageHandler(m_previous); }
    MessageLog(const MessageLog&) = delete;
    MessageLog& operator=(const MessageLog&) = delete;
    std::vector<QString> texts;

  private:
    MessageHandler m_previous;
};

} // namespace hygro::test
