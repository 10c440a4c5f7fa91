// Operator messages from the core. The UI installs a handler that shows a modal box;
// tests install one that records the text and answers.
#pragma once

#include <functional>
#include <string>

namespace hygro {

enum class MsgButtons { Ok, YesNo, OkCancel };
enum class MsgAnswer { Ok, Yes, No, Cancel };

using MessageHandler = std::function<MsgAnswer(const std::u16string& text, MsgButtons buttons)>;

// Shows text through the installed handler; without one, prints it to stderr and
// answers Ok/Yes.
MsgAnswer ShowMessage(const std::u16string& text, MsgButtons buttons = MsgButtons::Ok);
MsgAnswer ShowMessage(const std::string& utf8Text, MsgButtons buttons = MsgButtons::Ok);

// Installs handler (empty = default); returns the previous one.
MessageHandler SetMessageHandler(MessageHandler handler);

} // namespace hygro
