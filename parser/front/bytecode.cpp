#include "parser/front/bytecode.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <charconv>
#include <cmath>
#include <vector>

#include "parser/core/commands.h"

namespace MathUtils {

// One line for an entry: its slot, its listing name and its payload.
std::string Disassemble(std::span<const Cell> cells, const NameOfAddress& nameOf) {
  std::string text;
  std::size_t i = 0;
  while (i + 1 < cells.size()) {
    const Cell slot = cells[i], code = cells[i + 1];
    if (!text.empty()) text += '\n';
    if (code == cdEnd) return text + std::string(Commands[cdEnd].Listing);
    const Command* command = FindCommand(code);
    if (!command || command->Cells == 0 || i + static_cast<std::size_t>(command->Cells) > cells.size())
      return text + std::to_string(slot) + " ?" + std::to_string(code);
    text += std::to_string(slot) + ' ' + std::string(command->Listing);
    const Cell* payload = &cells[i + 2];
    switch (code) {
      case cdValue: {
        char number[32];
        const auto end = std::to_chars(number, number + sizeof number, ReadDouble(payload)).ptr;
        text += ' ' + std::string(number, end);
        break;
      }
      case cdVariable:
      case cdPostfixOp: text += ' ' + nameOf(ReadAddress(payload), nullptr); break;
      case cdContextOp:
        text += ' ' + nameOf(ReadAddress(payload), ReadAddress(payload + AddressCells));
        break;
      case cdFunction:
        text += ' ' + std::to_string(payload[0]) + ' ' + nameOf(ReadAddress(payload + 1), nullptr);
        break;
      case cdContextFunction:
        text += ' ' + std::to_string(payload[0]) + ' ' +
                nameOf(ReadAddress(payload + 1), ReadAddress(payload + 1 + AddressCells));
        break;
      default: break;  // binary operators carry no payload
    }
    i += static_cast<std::size_t>(command->Cells);
  }
  return text;
}

}  // namespace MathUtils
