// Line editing for a person at a terminal: a prompt, history (up arrow) and completion, over
// readline's callback interface so that the console keeps watching the host while a line is
// typed. One editor at a time (readline's state is the process's).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace console {

class LineEditor {
public:
    using Completer = std::function<std::vector<std::string>(const std::string& typed)>;
    using OnLine = std::function<void(std::optional<std::string> line)>;  // none at Ctrl-D

    LineEditor(std::string prompt, OnLine onLine, Completer completer);
    ~LineEditor();  // gives the terminal back as it found it
    LineEditor(const LineEditor&) = delete;
    LineEditor& operator=(const LineEditor&) = delete;

    // Standard input has something: one keystroke's worth of editing.
    void readCharacter();
    // Writes `text` above the line being typed, then shows the prompt and the line again.
    void print(const std::string& text);

private:
    std::string prompt_;
};

}  // namespace console
