#include "image_check.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "board_names.h"
#include "messages.h"
#include "unif_blocks.h"

namespace {

constexpr LoaderSet FCEUX = loader_bit(Loader::fceux);
constexpr LoaderSet MEDNAFEN = loader_bit(Loader::mednafen);
constexpr LoaderSet NESTOPIA = loader_bit(Loader::nestopia);
constexpr LoaderSet MESEN2 = loader_bit(Loader::mesen2);
constexpr LoaderSet PUNES = loader_bit(Loader::punes);

// Mednafen refuses PRG, CHR, MAPR and NAME blocks longer than this.
constexpr std::uint32_t MEDNAFEN_BLOCK_LIMIT = std::uint32_t{512} * 1024 * 1024;
// FCEUX and Mednafen pad each chip to a power of two of at least this.
constexpr std::uint32_t PRG_CHIP_MINIMUM = 2048;
constexpr std::uint32_t CHR_CHIP_MINIMUM = 8192;
// The index byte of chip 0.
constexpr std::size_t FIRST_INDEX = '0';

// The loader names of a set, for a message.
class Names {
public:
    explicit Names(LoaderSet loaders) { format_loaders(loaders, text_); }
    const char* text() const { return text_; }

private:
    char text_[LOADER_LIST_SIZE];
};

// A block ID as the listing shows it.
class IdText {
public:
    explicit IdText(const unsigned char id[BLOCK_ID_SIZE]) { format_id(id, text_); }
    const char* text() const { return text_; }

private:
    char text_[ID_TEXT_SIZE];
};

// The ID of the block of an indexed kind ("PRG") with this index byte.
class ChipId {
public:
    ChipId(const char* letters, int index)
        : id_{static_cast<unsigned char>(letters[0]), static_cast<unsigned char>(letters[1]),
              static_cast<unsigned char>(letters[2]), static_cast<unsigned char>(index)} {}
    const unsigned char* id() const { return id_; }

private:
    unsigned char id_[BLOCK_ID_SIZE];
};

void add(ImageCheck& check, Severity severity, LoaderSet affects, const char* format, ...)
    UNIFPACK_PRINTF(4, 5);

void add(ImageCheck& check, Severity severity, LoaderSet affects, const char* format, ...) {
    if (severity == Severity::error)
        ++check.errors;
    else
        ++check.warnings;
    if (check.count == MAX_FINDINGS) {
        ++check.dropped;
        return;
    }
    Finding& finding = check.findings[check.count++];
    finding.severity = severity;
    finding.affects = affects;
    std::va_list args;
    va_start(args, format);
    std::vsnprintf(finding.message, sizeof finding.message, format, args);
    va_end(args);
}

bool is_id(const BlockInfo* kind, const char* id) {
    return kind != nullptr && std::strcmp(kind->id, id) == 0;
}

void record(IdRecord& slot, const ImageBlock& block) {
    if (slot.count == 0) {
        slot.first_offset = block.offset;
        slot.first_length = block.length;
        slot.first_crc = block.crc;
    } else if (block.length != slot.first_length || block.crc != slot.first_crc) {
        slot.differ = true;
    }
    if (block.length > 0) {
        if (slot.filled == 0) {
            slot.first_filled_length = block.length;
            slot.first_filled_crc = block.crc;
        } else if (block.length != slot.first_filled_length || block.crc != slot.first_filled_crc) {
            slot.filled_differ = true;
        }
        ++slot.filled;
    }
    slot.last_offset = block.offset;
    slot.last_length = block.length;
    slot.last_blank = block.blank;
    slot.last_crc = block.crc;
    std::memcpy(slot.last_head, block.head, sizeof slot.last_head);
    ++slot.count;
}

bool is_power_of_two(std::uint64_t size) {
    return size != 0 && (size & (size - 1)) == 0;
}

std::uint64_t next_power_of_two(std::uint64_t size, std::uint64_t minimum) {
    std::uint64_t power = minimum;
    while (power < size)
        power *= 2;
    return power;
}

char upper(unsigned char c) {
    return static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
}

// The loaders that read blocks of a known ID at all.
LoaderSet readers_of(const BlockInfo& kind) {
    std::string_view id = kind.id;
    if (id == "MAPR" || id == "PRG" || id == "CHR" || id == "TVCI" || id == "BATR" || id == "MIRR")
        return ALL_LOADERS;
    if (id == "NAME" || id == "DINF")
        return FCEUX | MEDNAFEN | NESTOPIA | PUNES;
    if (id == "CTRL")
        return FCEUX | MEDNAFEN | NESTOPIA;
    if (id == "READ" || id == "VROR" || id == "PCK" || id == "CCK")
        return NESTOPIA;
    return 0;  // WRTR
}

// What a block of a fixed-length kind with another length does to the loaders.
struct LengthRule {
    const char* id;
    Severity severity;
    LoaderSet affects;
    const char* consequence;
};

// FCEUX's and Mednafen's handlers of TVCI, BATR, MIRR and CTRL read one
// byte and go on from there, and DINF's read 204 bytes (so do Nestopia's).
constexpr const char* OUT_OF_STEP = "so they read the rest of the image out of step";

constexpr LengthRule LENGTH_RULES[] = {
    {"TVCI", Severity::error, FCEUX | MEDNAFEN | PUNES,
     "FCEUX and Mednafen read one byte and go on inside the block, so they read the rest of the "
     "image out of step, and puNES refuses a TVCI block of any other length"},
    {"BATR", Severity::error, FCEUX | MEDNAFEN,
     "FCEUX and Mednafen read one byte and go on from there, so they read the rest of the image "
     "out of step (FCEUX crashes on an empty one)"},
    {"CTRL", Severity::error, FCEUX | MEDNAFEN,
     "FCEUX and Mednafen read one byte and go on from there, so they read the rest of the image "
     "out of step"},
    {"MIRR", Severity::error, MEDNAFEN,
     "Mednafen reads one byte and goes on from there, so it reads the rest of the image out of "
     "step (FCEUX ignores the value and uses horizontal mirroring)"},
};

void check_length(ImageCheck& check, const ImageBlock& block, const BlockInfo& kind) {
    if (kind.length == ANY_LENGTH || block.length == kind.length)
        return;
    IdText id{block.id};
    if (is_id(&kind, "DINF")) {
        // Nestopia skips a longer DINF by its length.
        LoaderSet affects = FCEUX | MEDNAFEN | (block.length < kind.length ? NESTOPIA : 0);
        add(check, Severity::error, affects,
            "block DINF at offset %llu is %lu bytes long, not 204: %s read 204 bytes whatever "
            "the length, %s; make it 204 bytes long",
            static_cast<unsigned long long>(block.offset), static_cast<unsigned long>(block.length),
            Names(affects).text(), OUT_OF_STEP);
        return;
    }
    for (const LengthRule& rule : LENGTH_RULES) {
        if (std::strcmp(rule.id, kind.id) == 0) {
            add(check, rule.severity, rule.affects,
                "block %s at offset %llu is %lu bytes long, not %lu: %s; make it %lu byte%s long",
                id.text(), static_cast<unsigned long long>(block.offset),
                static_cast<unsigned long>(block.length), static_cast<unsigned long>(kind.length),
                rule.consequence, static_cast<unsigned long>(kind.length), kind.length == 1 ? "" : "s");
            return;
        }
    }
    add(check, Severity::warning, 0,
        "block %s at offset %llu is %lu bytes long, not %lu as the format says (no loader is "
        "known to depend on it); make it %lu byte%s long",
        id.text(), static_cast<unsigned long long>(block.offset),
        static_cast<unsigned long>(block.length), static_cast<unsigned long>(kind.length),
        static_cast<unsigned long>(kind.length), kind.length == 1 ? "" : "s");
}

// An ID the format does not know. puNES compares IDs ignoring case, so it
// reads one that is a known ID in other letters as that ID.
void check_unknown(ImageCheck& check, const ImageBlock& block) {
    unsigned char upper_id[BLOCK_ID_SIZE];
    for (std::size_t i = 0; i < BLOCK_ID_SIZE; ++i)
        upper_id[i] = static_cast<unsigned char>(upper(block.id[i]));
    const BlockInfo* kind = block_for_id(upper_id);
    IdText id{block.id};
    if (kind != nullptr && (readers_of(*kind) & PUNES) != 0 &&
        std::memcmp(upper_id, block.id, BLOCK_ID_SIZE) != 0) {
        IdText meant{upper_id};
        bool data = is_id(kind, "PRG") || is_id(kind, "CHR") || is_id(kind, "MAPR");
        LoaderSet skip = FCEUX | MEDNAFEN | NESTOPIA | MESEN2;
        add(check, data ? Severity::error : Severity::warning, skip,
            "block %s at offset %llu: block IDs are upper case, so %s skip it, while puNES, which "
            "ignores case, reads it as %s; write %s",
            id.text(), static_cast<unsigned long long>(block.offset), Names(skip).text(), meant.text(),
            meant.text());
        return;
    }
    add(check, Severity::warning, ALL_LOADERS,
        "block %s at offset %llu has an ID the format does not know: %s skip it; leave it out",
        id.text(), static_cast<unsigned long long>(block.offset), Names(ALL_LOADERS).text());
}

// PRGn and CHRn: the index byte each loader takes.
void check_index(ImageCheck& check, const ImageBlock& block) {
    unsigned char index = block.id[3];
    // FCEUX and Mednafen take the byte minus '0' and refuse anything above 15.
    bool refused = index < '0' || index > '?';
    // Nestopia takes 0-9 and A-F and skips any other block.
    bool skipped = !((index >= '0' && index <= '9') || (index >= 'A' && index <= 'F'));
    LoaderSet affects = (refused ? FCEUX | MEDNAFEN : 0) | (skipped && block.length > 0 ? NESTOPIA : 0);
    if (affects == 0)
        return;
    IdText id{block.id};
    const char* letters = block.id[0] == 'P' ? "PRG" : "CHR";
    const char* refusal = refused ? "FCEUX and Mednafen refuse the image (they take 0-9 and "
                                    ":;<=>? as the index only)"
                                  : "";
    const char* skip = (affects & NESTOPIA) != 0
                           ? "Nestopia skips the block and its data (it takes 0-9 and A-F only)"
                           : "";
    char fix_text[96];
    if (index == 0)
        std::snprintf(fix_text, sizeof fix_text,
                      "a key of exactly %s gives a zero byte as the index; write %s0", letters,
                      letters);
    else
        std::snprintf(fix_text, sizeof fix_text,
                      "no index above 9 works in all of them; use %s0 to %s9", letters, letters);
    add(check, Severity::error, affects, "block %s at offset %llu: %s%s%s; %s", id.text(),
        static_cast<unsigned long long>(block.offset), refusal,
        refused && (affects & NESTOPIA) != 0 ? ", and " : "", skip, fix_text);
}

void check_byte_value(ImageCheck& check, const ImageBlock& block, const BlockInfo& kind) {
    if (block.length == 0)
        return;
    if (is_id(&kind, "BATR") && block.byte == 0) {
        LoaderSet affects = FCEUX | MEDNAFEN | NESTOPIA | PUNES;
        add(check, Severity::warning, affects,
            "block BATR at offset %llu says no battery (0), but %s give the cartridge a battery "
            "whenever the block is there (Mesen2 reads the byte); leave BATR out",
            static_cast<unsigned long long>(block.offset), Names(affects).text());
        return;
    }
    if (is_id(&kind, "MIRR") && !is_named_value(kind, block.byte)) {
        add(check, Severity::warning, FCEUX | MEDNAFEN | MESEN2 | PUNES,
            "block MIRR at offset %llu holds %u, none of the format's values (0-5): FCEUX and "
            "Mednafen leave the mirroring to the board, Mesen2 and puNES use horizontal; write "
            "one of the format's values",
            static_cast<unsigned long long>(block.offset), block.byte);
    }
    if (is_id(&kind, "TVCI") && !is_named_value(kind, block.byte)) {
        add(check, Severity::warning, ALL_LOADERS,
            "block TVCI at offset %llu holds %u, none of the format's values (0-2): FCEUX and "
            "Mednafen ignore it, Nestopia takes either system, Mesen2 and puNES take NTSC; write "
            "one of the format's values",
            static_cast<unsigned long long>(block.offset), block.byte);
    }
}

IdRecord* records_of(ImageCheck& check, const BlockInfo& kind) {
    if (is_id(&kind, "PRG"))
        return check.prg;
    if (is_id(&kind, "CHR"))
        return check.chr;
    if (is_id(&kind, "PCK"))
        return check.pck;
    return check.cck;
}

void check_chip(ImageCheck& check, const ImageBlock& block, const BlockInfo& kind) {
    int index = block.id[3];
    bool prg = is_id(&kind, "PRG");
    if (prg && !check.any_prg && block.length == 0)
        check.first_prg_empty = true;
    check.any_prg = check.any_prg || prg;
    // puNES joins the blocks in the order of the image; empty ones add nothing.
    int& last = prg ? check.last_prg_index : check.last_chr_index;
    if (block.length > 0) {
        if (last > index)
            (prg ? check.prg_out_of_order : check.chr_out_of_order) = true;
        last = index;
    }
    check_index(check, block);
    if (block.length > MEDNAFEN_BLOCK_LIMIT) {
        IdText id{block.id};
        add(check, Severity::error, MEDNAFEN,
            "block %s at offset %llu is over 512 MiB, which Mednafen refuses", id.text(),
            static_cast<unsigned long long>(block.offset));
    }
}

// The length of the well-formed UTF-8 sequence at `text`, or 0.
std::size_t utf8_sequence(const unsigned char* text, std::size_t size) {
    unsigned char lead = text[0];
    if (lead < 0x80)
        return 1;
    std::size_t length = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                                                        : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
    if (length == 0 || length > size)
        return 0;
    // The second byte's range narrows after E0, ED, F0 and F4.
    unsigned char low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
    unsigned char high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
    if (text[1] < low || text[1] > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (text[i] < 0x80 || text[i] > 0xBF)
            return 0;
    return length;
}

// A text view for a message, which is always UTF-8: a byte that is no
// part of a well-formed sequence reads \xHH.
void utf8_only(const char* view, char (&out)[CONTENTS_SIZE]) {
    const auto* text = reinterpret_cast<const unsigned char*>(view);
    std::size_t size = std::strlen(view);
    std::size_t used = 0;
    for (std::size_t i = 0; i < size;) {
        std::size_t length = utf8_sequence(text + i, size - i);
        if (used + (length == 0 ? 4 : length) + 1 > sizeof out)
            break;
        if (length == 0) {
            std::snprintf(out + used, sizeof out - used, "\\x%02X", text[i]);
            used += 4;
            ++i;
        } else {
            std::memcpy(out + used, text + i, length);
            used += length;
            i += length;
        }
    }
    out[used] = '\0';
}

void check_mapr_text(ImageCheck& check, const ImageBlock& block, Loader loader) {
    LoaderSet bit = loader_bit(loader);
    const char* name = loader_name(loader);
    char view[CONTENTS_SIZE];
    char quoted[CONTENTS_SIZE];
    format_contents(block, view);
    utf8_only(view, quoted);
    std::uint64_t offset = block.offset;
    if (!block.text_ended && loader == Loader::nestopia) {
        add(check, Severity::error, bit,
            "block MAPR at offset %llu has no zero byte to end the board name: Nestopia reads past "
            "the block and refuses the image as corrupt; end the name with a zero byte",
            static_cast<unsigned long long>(offset));
        return;
    }
    std::string_view text(reinterpret_cast<const char*>(block.text), block.text_size);
    BoardLookup lookup = block.text_cut ? BoardLookup{} : look_up_board(loader, text);
    if (lookup.match == BoardMatch::loads)
        return;
    const char* rule = "";
    switch (loader) {
    case Loader::fceux:
    case Loader::mednafen:
        rule = "strips an exact NES-, UNL-, HVC-, BTL- or BMC- prefix and compares the rest "
               "exactly with the names it knows";
        break;
    case Loader::nestopia:
        rule = "compares the whole name, prefix included, with the names it knows, ignoring case "
               "and outer blanks";
        break;
    case Loader::mesen2:
        rule = "drops every blank, strips an exact NES-, UNL-, HVC-, BTL- or BMC- prefix and "
               "compares the rest exactly with the names it knows";
        break;
    case Loader::punes:
        rule = "skips leading blanks, strips a NES-, UNL-, HVC-, BTL- or BMC- prefix in any case "
               "and takes the first of its names that begins with the rest, ignoring case";
        break;
    }
    char fix[160];
    const BoardRow* best = block.text_cut ? nullptr : best_spelling(text);
    if (best != nullptr && (best->loads & bit) != 0)
        std::snprintf(fix, sizeof fix, "write MAPR %s, which %s load", best->name,
                      Names(best->loads).text());
    else
        std::snprintf(fix, sizeof fix, "%s knows no spelling of this board: name one it knows",
                      name);
    if (lookup.match == BoardMatch::other_board) {
        add(check, Severity::error, bit,
            "puNES knows no board %s (MAPR at offset %llu) and loads the first of its names that "
            "begins with it, such as %s: it %s; %s",
            quoted, static_cast<unsigned long long>(offset), lookup.row->name, rule, fix);
        return;
    }
    add(check, Severity::error, bit,
        "%s does not know the board %s (MAPR at offset %llu) and refuses the image: it %s; %s",
        name, quoted, static_cast<unsigned long long>(offset), rule, fix);
}

// No CHR block: the loaders give the board CHR RAM. NROM (mapper 0) and
// CNROM (mapper 3) boards have CHR ROM by design, so their program shows no
// tiles that way.
void check_chr_ram(ImageCheck& check) {
    for (const IdRecord& slot : check.chr)
        if (slot.count > 0)
            return;
    std::string_view board(reinterpret_cast<const char*>(check.last_mapr.text),
                           check.last_mapr.text_size);
    const BoardRow* row = check.last_mapr.kind != nullptr ? best_spelling(board) : nullptr;
    bool chr_rom = row != nullptr && (row->mapper == 0 || row->mapper == 3);
    if (chr_rom)
        add(check, Severity::error, ALL_LOADERS,
            "no CHR block, and board %s (mapper %d) has CHR ROM: %s give it 8 KiB of CHR RAM "
            "instead (Mednafen fills it with $FF, the others with zeros), so it shows no tiles; "
            "add CHR0 with the tiles",
            row->name, row->mapper, Names(ALL_LOADERS).text());
    else
        add(check, Severity::warning, ALL_LOADERS,
            "no CHR block: %s give the board 8 KiB of CHR RAM (Mednafen fills it with $FF, the "
            "others with zeros), so the program must write every tile it shows; if the board "
            "has CHR ROM, add CHR0 with the tiles",
            Names(ALL_LOADERS).text());
}

void check_board(ImageCheck& check) {
    if (check.first_mapr.kind == nullptr) {
        add(check, Severity::error, ALL_LOADERS,
            "no MAPR block: FCEUX loads the image with no board (a grey screen), Mednafen, "
            "Nestopia and Mesen2 refuse it, and puNES is left with no board name; add MAPR with "
            "the board name, e.g. NES-NROM-128");
        return;
    }
    for (Loader loader : LOADERS)
        check_mapr_text(check, loader == Loader::nestopia ? check.first_mapr : check.last_mapr, loader);
}

struct ChipKind {
    const char* letters;
    const IdRecord* records;
    std::uint32_t minimum;
    bool out_of_order;
};

void check_split(ImageCheck& check, const ChipKind& chip) {
    int indexes = 0;
    char list[64] = "";
    std::size_t used = 0;
    for (int index = 0; index < 256; ++index) {
        const IdRecord& slot = chip.records[index];
        if (slot.count == 0 || (slot.first_length == 0 && slot.last_length == 0))
            continue;  // an empty block is an empty chip, which no board uses
        ++indexes;
        IdText text{ChipId(chip.letters, index).id()};
        if (used + sizeof text.text() + 8 < sizeof list)
            used += static_cast<std::size_t>(std::snprintf(list + used, sizeof list - used, "%s%s",
                                                           used > 0 ? ", " : "", text.text()));
    }
    std::string_view board(reinterpret_cast<const char*>(check.last_mapr.text),
                           check.last_mapr.text_size);
    bool prg = chip.letters[0] == 'P';
    // A program without its vectors does not run; tiles not shown are a
    // wrong picture, unless the chips past chip 0 are blank.
    bool shown_lost = false;
    for (int index = 0; index < 256; ++index)
        shown_lost = shown_lost || (index != '0' && chip.records[index].filled > 0 &&
                                    !chip.records[index].last_blank);
    if (indexes > 1 && !(prg && is_multi_chip_board(board))) {
        add(check, prg || shown_lost ? Severity::error : Severity::warning, FCEUX | MEDNAFEN,
            "%s is split across %d blocks (%s): FCEUX and Mednafen take each block as a chip of "
            "its own, and most boards use chip 0 only, so %s; put the whole %s in %s0 (Nestopia, "
            "Mesen2 and puNES join the blocks)",
            chip.letters, indexes, list,
            prg            ? "they run the wrong program or none"
            : shown_lost ? "they do not show the tiles of the others"
                         : "they do not show the others (blank here)",
            chip.letters, chip.letters);
    }
    if (chip.out_of_order) {
        add(check, Severity::error, PUNES,
            "the %s blocks are not in index order in the image, and puNES joins them in the order "
            "of the image; write them in index order",
            chip.letters);
    }
}

void check_duplicates(ImageCheck& check, const IdRecord& slot, const BlockInfo& kind,
                      const unsigned char id[BLOCK_ID_SIZE]) {
    if (slot.count < 2 || !slot.differ)
        return;
    IdText text{id};
    LoaderSet readers = readers_of(kind);
    if (loader_count(readers) < 2)
        return;
    // The board name each loader takes is checked on its own.
    bool board = is_id(&kind, "MAPR");
    const char* how = is_id(&kind, "NAME")
                          ? "FCEUX, Mednafen and Nestopia take the first, puNES the last"
                          : "Nestopia takes the first, FCEUX, Mednafen, Mesen2 and puNES the last";
    add(check, Severity::warning, readers,
        "%lu %s blocks that differ (the first at offset %llu, the last at %llu): %s%s; keep one",
        static_cast<unsigned long>(slot.count), text.text(),
        static_cast<unsigned long long>(slot.first_offset),
        static_cast<unsigned long long>(slot.last_offset), how,
        board ? " (each one's board name is checked on its own)" : "");
}

// PRGn and CHRn of one index more than once. FCEUX, Mednafen and Mesen2
// take the last block, Nestopia the first with data, puNES joins them all.
void check_chip_duplicates(ImageCheck& check, const IdRecord& slot,
                           const unsigned char id[BLOCK_ID_SIZE]) {
    if (slot.count < 2)
        return;
    IdText text{id};
    unsigned long count = slot.count;
    auto first = static_cast<unsigned long long>(slot.first_offset);
    if (slot.filled_differ) {
        add(check, Severity::error, ALL_LOADERS,
            "%lu %s blocks that differ (the first at offset %llu, the last at %llu): Nestopia "
            "takes the first with data, FCEUX, Mednafen and Mesen2 the last, puNES joins them "
            "all, so at most one of them runs what was meant; keep one",
            count, text.text(), first, static_cast<unsigned long long>(slot.last_offset));
    } else if (slot.last_length == 0 && slot.filled > 0) {
        LoaderSet affects = FCEUX | MEDNAFEN | MESEN2;
        add(check, Severity::error, affects,
            "%lu %s blocks, the last of them empty (at offset %llu): %s take the last, and have "
            "no data for the chip; leave the empty one out",
            count, text.text(), static_cast<unsigned long long>(slot.last_offset),
            Names(affects).text());
    } else if (slot.filled > 1) {
        add(check, Severity::error, PUNES,
            "%lu copies of block %s (the first at offset %llu): puNES joins them all into one "
            "chip; keep one",
            count, text.text(), first);
    }
}

void check_sizes(ImageCheck& check, const ChipKind& chip) {
    bool prg = chip.letters[0] == 'P';
    bool any_data = false;
    for (int index = 0; index < 256; ++index)
        any_data = any_data || chip.records[index].filled > 0;
    std::uint64_t joined = 0;  // Nestopia's: the first block of each index 0-9, A-F
    for (int index = 0; index < 256; ++index) {
        const IdRecord& slot = chip.records[index];
        // Empty chips beside others are never used; only an empty PRG as a
        // whole is padded into the program.
        if (slot.count == 0 || (slot.last_length == 0 && any_data))
            continue;
        if ((index >= '0' && index <= '9') || (index >= 'A' && index <= 'F'))
            joined += slot.first_filled_length;
        // FCEUX and Mednafen: the last block of each index they take.
        std::uint32_t size = slot.last_length;
        if (index < '0' || index > '?' || (is_power_of_two(size) && size >= chip.minimum))
            continue;
        IdText text{ChipId(chip.letters, index).id()};
        unsigned long long padded = next_power_of_two(size, chip.minimum);
        if (prg)
            add(check, Severity::error, FCEUX | MEDNAFEN,
                "block %s is %lu bytes: FCEUX and Mednafen pad each PRG chip with $FF to a power "
                "of two of at least 2 KiB (%llu bytes), which moves the vectors at its end; make "
                "it a power of two",
                text.text(), static_cast<unsigned long>(size), padded);
        else
            add(check, Severity::warning, FCEUX | MEDNAFEN,
                "block %s is %lu bytes: FCEUX and Mednafen pad each CHR chip with $FF to a power "
                "of two of at least 8 KiB (%llu bytes), so their CRC of the chip is not the "
                "block's; make it a power of two",
                text.text(), static_cast<unsigned long>(size), padded);
    }
    if (joined > 0 && !is_power_of_two(joined))
        add(check, Severity::warning, NESTOPIA,
            "the %s blocks hold %llu bytes: Nestopia fills them up to a power of two (%llu bytes) "
            "by repeating their last part, so its CRC of the %s is not the blocks'; make it a "
            "power of two",
            chip.letters, static_cast<unsigned long long>(joined),
            static_cast<unsigned long long>(next_power_of_two(joined, 1)), chip.letters);
}

std::uint32_t le32(const unsigned char* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

// PCKn and CCKn: the CRC-32 of PRGn and CHRn, which no loader checks.
void check_checksums(ImageCheck& check, const IdRecord* sums, const IdRecord* chips,
                     const char* sum_letters, const char* chip_letters) {
    for (int index = 0; index < 256; ++index) {
        const IdRecord& sum = sums[index];
        if (sum.count == 0 || sum.last_length != 4)
            continue;
        IdText sum_text{ChipId(sum_letters, index).id()};
        IdText chip_text{ChipId(chip_letters, index).id()};
        std::uint32_t stored = le32(sum.last_head);
        const IdRecord& chip = chips[index];
        if (chip.count == 0)
            add(check, Severity::warning, 0,
                "block %s at offset %llu holds the CRC-32 of %s, and there is no %s (no loader "
                "checks it); remove %s",
                sum_text.text(), static_cast<unsigned long long>(sum.last_offset), chip_text.text(),
                chip_text.text(), sum_text.text());
        else if (stored != chip.first_crc)
            add(check, Severity::warning, 0,
                "block %s at offset %llu says the CRC-32 of %s is %08lX, but it is %08lX (no "
                "loader checks it); correct or remove %s",
                sum_text.text(), static_cast<unsigned long long>(sum.last_offset), chip_text.text(),
                static_cast<unsigned long>(stored), static_cast<unsigned long>(chip.first_crc),
                sum_text.text());
    }
}

}  // namespace

void format_loaders(LoaderSet loaders, char (&out)[LOADER_LIST_SIZE]) {
    out[0] = '\0';
    int total = loader_count(loaders);
    int named = 0;
    for (Loader loader : LOADERS) {
        if ((loaders & loader_bit(loader)) == 0)
            continue;
        ++named;
        const char* separator = named == 1 ? "" : named == total ? " and " : ", ";
        std::strncat(out, separator, LOADER_LIST_SIZE - std::strlen(out) - 1);
        std::strncat(out, loader_name(loader), LOADER_LIST_SIZE - std::strlen(out) - 1);
    }
}

void begin_check(ImageCheck& check) {
    check = ImageCheck{};
}

void check_block(ImageCheck& check, const ImageBlock& block) {
    const BlockInfo* kind = block.kind;
    if (kind == nullptr) {
        check_unknown(check, block);
        return;
    }
    if (kind->id_size < BLOCK_ID_SIZE) {
        record(records_of(check, *kind)[block.id[3]], block);
        if (is_id(kind, "PRG") || is_id(kind, "CHR"))
            check_chip(check, block, *kind);
        else
            check_length(check, block, *kind);
        return;
    }
    auto row = static_cast<std::size_t>(kind - UNIF_BLOCKS.data());
    if (row < KNOWN_ID_LIMIT)
        record(check.known[row], block);
    check_length(check, block, *kind);
    if (is_id(kind, "MAPR")) {
        if (check.first_mapr.kind == nullptr)
            check.first_mapr = block;
        check.last_mapr = block;
    }
    if ((is_id(kind, "MAPR") || is_id(kind, "NAME")) && block.length > MEDNAFEN_BLOCK_LIMIT)
        add(check, Severity::error, MEDNAFEN,
            "block %s at offset %llu is over 512 MiB, which Mednafen refuses", kind->id,
            static_cast<unsigned long long>(block.offset));
    if (is_id(kind, "NAME") && !(block.text_ended && block.text_end + 1 == block.length)) {
        // Nestopia reads the first NAME on past its end when it has no zero
        // byte; Mednafen reads NAME by its length.
        bool first = row < KNOWN_ID_LIMIT && check.known[row].count == 1;
        LoaderSet affects = FCEUX | (first && !block.text_ended ? NESTOPIA : 0);
        add(check, Severity::error, affects,
            "block NAME at offset %llu does not end with the zero byte that ends its text: %s "
            "read%s NAME up to a zero byte whatever its length, so %s; end the text with one "
            "zero byte, as the block's last byte",
            static_cast<unsigned long long>(block.offset), Names(affects).text(),
            affects == FCEUX ? "s" : "",
            affects == FCEUX ? "it reads the rest of the image out of step"
                             : "they read the rest of the image out of step");
    }
    if (kind->payload == Payload::byte)
        check_byte_value(check, block, *kind);
}

void finish_check(ImageCheck& check, NextBlock how, const ImageBlock& block) {
    if (how == NextBlock::cut_payload) {
        // The loaders that read such a block stop at the end of the file;
        // those that skip it do not notice.
        IdText id{block.id};
        LoaderSet affects = block.kind != nullptr ? readers_of(*block.kind) : 0;
        if (affects != 0)
            add(check, Severity::error, affects,
                "the image ends inside block %s at offset %llu, with %llu of its %lu payload "
                "bytes: %s refuse it; pack it again",
                id.text(), static_cast<unsigned long long>(block.offset),
                static_cast<unsigned long long>(block.present),
                static_cast<unsigned long>(block.length), Names(affects).text());
        else
            add(check, Severity::warning, 0,
                "the image ends inside block %s at offset %llu, with %llu of its %lu payload "
                "bytes, which the loaders skip; pack it again",
                id.text(), static_cast<unsigned long long>(block.offset),
                static_cast<unsigned long long>(block.present),
                static_cast<unsigned long>(block.length));
    } else if (how == NextBlock::cut_start) {
        LoaderSet affects = FCEUX | MEDNAFEN | NESTOPIA;
        add(check, Severity::error, affects,
            "the last %llu bytes, at offset %llu, are too few for a block (8 bytes at least): "
            "%s refuse the image as cut short; remove them",
            static_cast<unsigned long long>(block.present),
            static_cast<unsigned long long>(block.offset), Names(affects).text());
    }
    check_board(check);
    // A PRG block cut short is there all the same.
    bool cut_prg = how == NextBlock::cut_payload && block.kind != nullptr && is_id(block.kind, "PRG");
    if (!check.any_prg && !cut_prg)
        add(check, Severity::error, ALL_LOADERS,
            "no PRG block: %s have no program to run; add PRG0 with the program",
            Names(ALL_LOADERS).text());
    else if (check.first_prg_empty)
        add(check, Severity::error, PUNES,
            "the first PRG block is empty, which puNES refuses; leave it out");
    // FCEUX and Mednafen number chips by the index byte; chip 0 is PRG0.
    bool chips_taken = false;
    for (int index = '1'; index <= '?'; ++index)
        chips_taken = chips_taken || check.prg[index].filled > 0;
    if (chips_taken && check.prg[FIRST_INDEX].filled == 0)
        add(check, Severity::error, FCEUX | MEDNAFEN,
            "no PRG0 block with data: Mednafen refuses the image (it needs PRG0), and FCEUX's "
            "boards map chip 0 first, so they run no program; put the program in PRG0");
    check_chr_ram(check);
    const ChipKind prg{"PRG", check.prg, PRG_CHIP_MINIMUM, check.prg_out_of_order};
    const ChipKind chr{"CHR", check.chr, CHR_CHIP_MINIMUM, check.chr_out_of_order};
    check_split(check, prg);
    check_split(check, chr);
    check_sizes(check, prg);
    check_sizes(check, chr);
    for (std::size_t row = 0; row < UNIF_BLOCKS.size() && row < KNOWN_ID_LIMIT; ++row) {
        const BlockInfo& kind = UNIF_BLOCKS[row];
        if (kind.id_size == BLOCK_ID_SIZE)
            check_duplicates(check, check.known[row], kind,
                             reinterpret_cast<const unsigned char*>(kind.id));
    }
    for (const ChipKind& chip : {prg, chr}) {
        for (int index = 0; index < 256; ++index) {
            ChipId id(chip.letters, index);
            check_chip_duplicates(check, chip.records[index], id.id());
        }
    }
    check_checksums(check, check.pck, check.prg, "PCK", "PRG");
    check_checksums(check, check.cck, check.chr, "CCK", "CHR");
}
