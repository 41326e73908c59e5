// The words of the channel between the station and the KalimoGuard service (guard_pipe.h), apart
// from the pipe itself so that the service's headers name them without the system's.
#pragma once

#include "platform/platform.h"

#include <string>

namespace guard_pipe {

// What a station asks: what it tells the guard (ask_guard), and the reset of its desktop's
// account, answered once it is over.
enum class Request { StaffQuit, SessionOpened, Reset };

enum class Answer { Done, Refused, Failed };

constexpr const char* request_words[] = {"staff-quit", "session-opened", "reset"};
constexpr const char* answer_words[] = {"done", "refused", "failed"};

inline Request request_of(GuardRequest request) {
    return request == GuardRequest::SessionOpened ? Request::SessionOpened : Request::StaffQuit;
}

inline const char* word_for(Request request) {
    return request_words[static_cast<int>(request)];
}

inline const char* word_for(Answer answer) {
    return answer_words[static_cast<int>(answer)];
}

// False for a word that is none of the requests.
inline bool request_for(const std::string& word, Request& request) {
    for (int i = 0; i < 3; ++i) {
        if (word == request_words[i]) {
            request = static_cast<Request>(i);
            return true;
        }
    }
    return false;
}

inline bool answer_for(const std::string& word, Answer& answer) {
    for (int i = 0; i < 3; ++i) {
        if (word == answer_words[i]) {
            answer = static_cast<Answer>(i);
            return true;
        }
    }
    return false;
}

} // namespace guard_pipe
