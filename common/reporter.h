#pragma once
// How shared code shows a message to the user: each program supplies its own reporter (the
// scanner prints on its console, the desktop program shows an OK box with the question icon).

#include <string_view>

namespace mdb {

class MessageReporter {
  public:
    virtual ~MessageReporter() = default;
    virtual void ShowMessage(std::string_view text) = 0;
};

}  // namespace mdb
