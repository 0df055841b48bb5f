#include "json_output.h"

#include <cinttypes>
#include <cstdio>
#include <string>

#include "json.h"
#include "messages.h"

namespace {

bool first_key = true;    // of the document
bool first_entry = true;  // of the list being written

std::string hex(const unsigned char* bytes, std::size_t size) {
    static const char DIGITS[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < size; ++i) {
        text += DIGITS[bytes[i] >> 4];
        text += DIGITS[bytes[i] & 0xF];
    }
    return text;
}

std::string crc_text(std::uint32_t crc) {
    char text[9];
    std::snprintf(text, sizeof text, "%08" PRIX32, crc);
    return text;
}

std::string id_text(const unsigned char id[BLOCK_ID_SIZE]) {
    char text[ID_TEXT_SIZE];
    format_id(id, text);
    return text;
}

// Starts the next key of the document.
void key(const char* name) {
    progress("%s\"%s\": ", first_key ? "" : ",\n", name);
    first_key = false;
}

void put(const char* name, const Json& value) {
    key(name);
    progress("%s", json_text(value).c_str());
}

// Lists are written one entry a line.
void begin_list(const char* name) {
    key(name);
    progress("[");
    first_entry = true;
}

void put_entry(const Json& value) {
    progress("%s\n%s", first_entry ? "" : ",", json_text(value).c_str());
    first_entry = false;
}

void end_list() {
    progress("%s]", first_entry ? "" : "\n");
}

Json digests_json(const char* letters, const Digests& digests, std::uint16_t chips) {
    Json value;
    if (letters != nullptr) {
        Json list = Json::array();
        for (unsigned index = 0; index < CHIP_INDEXES; ++index)
            if ((chips & (1u << index)) != 0)
                list.push_back(std::string(letters) + "0123456789ABCDEF"[index]);
        value["blocks"] = list;
    }
    value["size"] = digests.size;
    value["crc32"] = crc_text(digests.crc32);
    value["md5"] = hex(digests.md5, sizeof digests.md5);
    value["sha1"] = hex(digests.sha1, sizeof digests.sha1);
    value["sha256"] = hex(digests.sha256, sizeof digests.sha256);
    return value;
}

}  // namespace

const char* severity_name(Severity severity) {
    return severity == Severity::error ? "error" : "warning";
}

void json_begin(const char* path, const ImageHeader& header) {
    first_key = true;
    progress("{\n");
    put("path", path);
    bool unif = header.result == HeaderResult::ok;
    put("unif", unif);
    put("revision", unif ? Json(header.revision) : Json(nullptr));
    begin_list("blocks");
}

void json_block(const ImageBlock& block) {
    Json value;
    value["offset"] = block.offset;
    value["id"] = id_text(block.id);
    value["id_hex"] = hex(block.id, BLOCK_ID_SIZE);
    value["length"] = block.length;
    value["kind"] = block.kind != nullptr ? Json(block.kind->shown) : Json(nullptr);
    value["crc32"] = crc_text(block.crc);
    switch (block.kind != nullptr ? block.kind->view : View::none) {
    case View::text:
    case View::first_line: {
        value["text"] = std::string(reinterpret_cast<const char*>(block.text), block.text_size);
        value["text_hex"] = hex(block.text, block.text_size);
        value["text_cut"] = block.text_cut;
        value["zero_byte"] = block.text_ended;
        break;
    }
    case View::byte: {
        bool empty = block.length == 0;
        const char* meaning = empty ? nullptr : byte_meaning(*block.kind, block.byte);
        value["value"] = empty ? Json(nullptr) : Json(block.byte);
        value["meaning"] = meaning != nullptr ? Json(meaning) : Json(nullptr);
        break;
    }
    case View::checksum:
    case View::none:
        break;
    }
    put_entry(value);
}

void json_end(NextBlock how, const ImageBlock& block) {
    end_list();
    Json end;
    end["complete"] = how == NextBlock::end;
    switch (how) {
    case NextBlock::block:
    case NextBlock::end:
        break;
    case NextBlock::cut_start:
        end["reason"] = "block start cut short";
        end["offset"] = block.offset;
        end["present"] = block.present;
        break;
    case NextBlock::cut_payload:
        end["reason"] = "payload cut short";
        end["offset"] = block.offset;
        end["id"] = id_text(block.id);
        end["length"] = block.length;
        end["present"] = block.present;
        break;
    case NextBlock::read_error:
        end["reason"] = "read error";
        end["offset"] = block.offset;
        break;
    }
    put("end", end);
}

void json_no_blocks() {
    end_list();
    put("end", nullptr);
    put("hashes", nullptr);
}

void json_hashes(const RomDigests* digests) {
    if (digests == nullptr) {
        put("hashes", nullptr);
        return;
    }
    Json hashes;
    hashes["prg"] = digests_json("PRG", digests->prg, digests->prg_chips);
    hashes["chr"] = digests_json("CHR", digests->chr, digests->chr_chips);
    hashes["prg_chr"] = digests_json(nullptr, digests->both, 0);
    put("hashes", hashes);
}

void json_findings(const ImageCheck& check) {
    begin_list("findings");
    for (std::size_t i = 0; i < check.count; ++i) {
        const Finding& finding = check.findings[i];
        Json value;
        value["severity"] = severity_name(finding.severity);
        Json affects = Json::array();
        for (Loader loader : LOADERS)
            if ((finding.affects & loader_bit(loader)) != 0)
                affects.push_back(loader_name(loader));
        value["affects"] = affects;
        value["message"] = finding.message;
        put_entry(value);
    }
    end_list();
    put("findings_not_shown", check.dropped);
    put("errors", check.errors);
    put("warnings", check.warnings);
}

void json_finish() {
    progress("\n}\n");
}
