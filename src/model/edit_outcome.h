// EditOutcome: the result of an editing command, either success or the
// message the user is shown (from the string table). The model is left
// unchanged on failure.
#pragma once

#include <string>

#include "shell/string_table.h"

namespace zentrope {

struct EditOutcome {
  int messageId = 0;       // 0 on success
  std::string message;     // the text of messageId
  bool cancelled = false;  // the user declined a question; nothing changed

  bool Ok() const { return messageId == 0 && !cancelled; }
  static EditOutcome Success() { return {}; }
  static EditOutcome Failure(int id) { return {id, LoadString(id), false}; }
  static EditOutcome Cancelled() { return {0, {}, true}; }
};

}  // namespace zentrope
