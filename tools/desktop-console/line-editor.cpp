#include "line-editor.h"

#include <readline/history.h>
#include <readline/readline.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace console {
namespace {

LineEditor::OnLine lineTaken;
LineEditor::Completer completer;
std::vector<std::string> candidates;
std::size_t nextCandidate = 0;
// While a typed line is handled readline shows no line of its own: output goes straight out.
bool handlingALine = false;

void takeLine(char* line) {
    if (!line) {
        std::fputs("\n", stdout);
        lineTaken(std::nullopt);
        return;
    }
    std::string text = line;
    std::free(line);
    if (!text.empty() && (history_length == 0 || text != history_get(history_base + history_length - 1)->line))
        add_history(text.c_str());
    handlingALine = true;
    lineTaken(text);
    handlingALine = false;
}

char* nextMatch(const char*, int state) {
    if (state == 0) nextCandidate = 0;
    if (nextCandidate >= candidates.size()) return nullptr;
    return strdup(candidates[nextCandidate++].c_str());
}

// The completer works on whole lines (titles hold spaces), so nothing breaks a word.
char** complete(const char*, int, int end) {
    rl_attempted_completion_over = 1;
    std::string typed(rl_line_buffer, static_cast<std::size_t>(end));
    candidates = completer(typed);
    rl_completion_append_character = typed.find(' ') == std::string::npos ? ' ' : '\0';
    return rl_completion_matches(typed.c_str(), nextMatch);
}

}  // namespace

LineEditor::LineEditor(std::string prompt, OnLine onLine, Completer complete_) : prompt_(std::move(prompt)) {
    lineTaken = std::move(onLine);
    completer = std::move(complete_);
    rl_readline_name = "desktop-console";
    rl_attempted_completion_function = complete;
    static char noBreaks[] = "\n";
    rl_completer_word_break_characters = noBreaks;
    using_history();
    rl_callback_handler_install(prompt_.c_str(), takeLine);
}

LineEditor::~LineEditor() {
    rl_callback_handler_remove();
}

void LineEditor::readCharacter() {
    rl_callback_read_char();
}

void LineEditor::print(const std::string& text) {
    if (handlingALine) {
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
        return;
    }
    int point = rl_point;
    char* typed = rl_copy_text(0, rl_end);
    rl_set_prompt("");
    rl_replace_line("", 0);
    rl_redisplay();
    std::fwrite(text.data(), 1, text.size(), stdout);
    rl_set_prompt(prompt_.c_str());
    rl_replace_line(typed, 0);
    rl_point = point;
    rl_redisplay();
    std::fflush(stdout);
    std::free(typed);
}

}  // namespace console
