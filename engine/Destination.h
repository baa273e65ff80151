#pragma once

namespace tolvane::engine {

// Where a generation's lines go: Option2, Option3, Option4.
enum class Destination { Notepad, Clipboard, OtherProgram };

} // namespace tolvane::engine
