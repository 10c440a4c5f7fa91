// Operator messages in tests: recorded instead of shown.
#pragma once

#include <QString>
#include <string>
#include <vector>

#include "util/message_box.h"

namespace hygro::test {

// Records every message while it lives, answering Ok (questions: `questions`).
class MessageLog {
  public:
    explicit MessageLog(MsgAnswer questions = MsgAnswer::Ok) {
        m_previous = SetMessageHandler([this, questions](const std::u16string& text, MsgButtons buttons) {
            texts.push_back(QString::fromStdU16String(text));
            return buttons == MsgButtons::YesNo ? questions : MsgAnswer::Ok;
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
