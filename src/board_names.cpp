#include "board_names.h"

#include <array>
#include <cstddef>

namespace {

// The prefixes FCEUX, Mednafen, Mesen2 and puNES strip from a board name.
constexpr std::array<std::string_view, 5> PREFIXES = {"NES-", "UNL-", "HVC-", "BTL-", "BMC-"};

// puNES keeps this many bytes of a board name.
constexpr std::size_t PUNES_NAME_LIMIT = 63;

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool same_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i]))
            return false;
    return true;
}

// The length of the prefix `text` begins with (exactly, or in any case), or 0.
std::size_t prefix_size(std::string_view text, bool any_case) {
    if (text.size() < 4)
        return 0;
    for (std::string_view prefix : PREFIXES) {
        std::string_view head = text.substr(0, 4);
        if (any_case ? same_ignoring_case(head, prefix) : head == prefix)
            return 4;
    }
    return 0;
}

// The text a loader looks up, made from a board name: board names are
// short, and a longer text is cut where no name reaches.
class Key {
public:
    void add(char c) {
        if (size_ < sizeof bytes_)
            bytes_[size_++] = c;
    }
    std::string_view view() const { return {bytes_, size_}; }

private:
    char bytes_[300] = {};
    std::size_t size_ = 0;
};

bool is_nestopia_dropped(char c) {
    return c == '\a' || c == '\b' || c == '\t' || c == '\v' || c == '\n' || c == '\r' || c == '\f';
}

Key key_of(Loader loader, std::string_view text) {
    Key key;
    switch (loader) {
    case Loader::fceux:
    case Loader::mednafen:
        for (char c : text.substr(prefix_size(text, false)))
            key.add(c);
        break;
    case Loader::nestopia: {
        Key kept;
        for (char c : text)
            if (!is_nestopia_dropped(c))
                kept.add(c);
        std::string_view name = kept.view();
        while (!name.empty() && name.front() == ' ')
            name.remove_prefix(1);
        while (!name.empty() && name.back() == ' ')
            name.remove_suffix(1);
        for (char c : name)
            key.add(lower(c));
        break;
    }
    case Loader::mesen2: {
        Key kept;
        for (char c : text)
            if (c != ' ')
                kept.add(c);
        std::string_view name = kept.view();
        for (char c : name.substr(prefix_size(name, false)))
            key.add(c);
        break;
    }
    case Loader::punes: {
        std::string_view name = text.substr(0, PUNES_NAME_LIMIT);
        while (!name.empty() && name.front() == ' ')
            name.remove_prefix(1);
        for (char c : name.substr(prefix_size(name, true)))
            key.add(lower(c));
        break;
    }
    }
    return key;
}

// What names one board in any loader's spelling: no blanks or control
// characters, no prefix, upper and lower case alike.
Key board_of(std::string_view text) {
    Key kept;
    for (char c : text)
        if (c != ' ' && !is_nestopia_dropped(c))
            kept.add(c);
    std::string_view name = kept.view();
    Key key;
    for (char c : name.substr(prefix_size(name, true)))
        key.add(lower(c));
    return key;
}

bool begins_with_ignoring_case(std::string_view text, std::string_view head) {
    return text.size() >= head.size() && same_ignoring_case(text.substr(0, head.size()), head);
}

}  // namespace

int loader_count(LoaderSet loaders) {
    int count = 0;
    for (Loader loader : LOADERS)
        if ((loaders & loader_bit(loader)) != 0)
            ++count;
    return count;
}

BoardLookup look_up_board(Loader loader, std::string_view text) {
    Key key = key_of(loader, text);
    // A spelling the loader loads whose lookup text is the same: the
    // loader's answer depends on nothing else.
    for (const BoardRow& row : BOARD_ROWS)
        if ((row.loads & loader_bit(loader)) != 0 && key_of(loader, row.name).view() == key.view())
            return {BoardMatch::loads, &row};
    if (loader == Loader::punes) {
        // An empty text begins every name: puNES takes its first, NROM.
        if (key.view().empty()) {
            for (const BoardRow& row : BOARD_ROWS)
                if (std::string_view(row.name) == "NROM")
                    return {BoardMatch::other_board, &row};
        }
        // No exact name: puNES takes the first of its names, in its own
        // order, that begins with the text.
        for (const BoardRow& row : BOARD_ROWS)
            if (row.punes_table && begins_with_ignoring_case(row.name, key.view()))
                return {BoardMatch::other_board, &row};
    }
    return {BoardMatch::unknown, nullptr};
}

const BoardRow* best_spelling(std::string_view text) {
    Key board = board_of(text);
    std::size_t own_prefix = prefix_size(text, true);
    const BoardRow* best = nullptr;
    int best_score = -1;
    for (const BoardRow& row : BOARD_ROWS) {
        std::string_view name = row.name;
        if (row.loads == 0 || board_of(name).view() != board.view())
            continue;
        // The most loaders first; then the user's own prefix, then NES-.
        int score = 4 * loader_count(row.loads);
        if (own_prefix != 0 && prefix_size(name, true) != 0 &&
            same_ignoring_case(name.substr(0, 4), text.substr(0, 4)))
            score += 2;
        else if (name.substr(0, 4) == "NES-")
            score += 1;
        if (score > best_score) {
            best = &row;
            best_score = score;
        }
    }
    return best;
}

bool is_multi_chip_board(std::string_view text) {
    std::string_view name = text.substr(prefix_size(text, true));
    for (std::string_view board : {"MARIO1-MALEE2", "Supervision16in1", "Super24in1SC03"})
        if (same_ignoring_case(name, board))
            return true;
    return false;
}
