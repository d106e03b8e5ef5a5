#include "tools/kernel_check/disassembly.h"

#include <cstdio>
#include <sstream>

namespace {
const char* const PREFIXES[] = {"rep",    "repz",   "repe",   "repnz",   "repne", "lock",
                                "data16", "data32", "addr32", "notrack", "bnd",   "cs",
                                "ds",     "ss",     "es",     "fs",      "gs"};

bool is_prefix(const std::string& word) {
    for (const char* prefix : PREFIXES) {
        if (word == prefix) {
            return true;
        }
    }
    return false;
}

std::string trim(const std::string& text) {
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return "";
    }
    size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// Splits "a,(b,c),d" at the commas outside parentheses.
std::vector<std::string> split_operands(const std::string& text) {
    std::vector<std::string> operands;
    std::string current;
    int depth = 0;
    for (char c : text) {
        if (c == '(') {
            depth += 1;
        } else if (c == ')') {
            depth -= 1;
        }
        if (c == ',' && depth == 0) {
            operands.push_back(trim(current));
            current.clear();
        } else {
            current += c;
        }
    }
    if (!trim(current).empty()) {
        operands.push_back(trim(current));
    }
    return operands;
}

bool parse_hex(const std::string& text, uint64_t* value) {
    if (text.empty() || text.find_first_not_of("0123456789abcdef") != std::string::npos) {
        return false;
    }
    *value = std::stoull(text, nullptr, 16);
    return true;
}

// "0000000000000040 <_Z11clear_blockPvj>:" starts a function.
bool parse_label(const std::string& line, std::string* name) {
    size_t open = line.find(" <");
    if (open == std::string::npos || line.size() < 3 || line.substr(line.size() - 2) != ">:") {
        return false;
    }
    uint64_t address = 0;
    if (!parse_hex(line.substr(0, open), &address)) {
        return false;
    }
    *name = line.substr(open + 2, line.size() - open - 4);
    return true;
}

// "  38:\timull  %r10d,%eax" is an instruction.
bool parse_instruction(const std::string& line, Instruction* instruction) {
    size_t colon = line.find(":\t");
    if (colon == std::string::npos) {
        return false;
    }
    Instruction parsed{};
    if (!parse_hex(trim(line.substr(0, colon)), &parsed.address)) {
        return false;
    }
    std::string text = line.substr(colon + 2);
    size_t comment = text.find('#');
    if (comment != std::string::npos) {
        text = text.substr(0, comment);
    }
    size_t symbol = text.find(" <");
    if (symbol != std::string::npos) {
        text = text.substr(0, symbol);
    }
    std::istringstream words(text);
    std::string word;
    words >> word;
    while (is_prefix(word) && words >> parsed.mnemonic) {
        parsed.prefix += parsed.prefix.empty() ? word : " " + word;
        word = parsed.mnemonic;
    }
    parsed.mnemonic = word;
    if (parsed.mnemonic.empty() || parsed.mnemonic == "(bad)") {
        return false;
    }
    std::string rest;
    std::getline(words, rest);
    parsed.operands = split_operands(trim(rest));
    bool branch = parsed.mnemonic[0] == 'j' || parsed.mnemonic.rfind("call", 0) == 0;
    if (branch && parsed.operands.size() == 1) {
        parsed.has_target = parse_hex(parsed.operands[0], &parsed.target);
    }
    *instruction = parsed;
    return true;
}
} // namespace

void parse_disassembly(const std::string& text, std::vector<Function>* functions) {
    std::istringstream lines(text);
    std::string line;
    Function* current = nullptr;
    while (std::getline(lines, line)) {
        std::string name;
        Instruction instruction{};
        if (parse_label(line, &name)) {
            functions->push_back(Function{name, {}});
            current = &functions->back();
        } else if (current != nullptr && parse_instruction(line, &instruction)) {
            current->code.push_back(instruction);
        } else if (line.rfind("Disassembly of section", 0) == 0) {
            current = nullptr;
        }
    }
}

bool read_disassembly(const std::string& objdump, const std::string& object,
                      std::vector<Function>* functions, std::string* error) {
    auto quote = [](const std::string& word) {
        std::string quoted = "'";
        for (char c : word) {
            quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        }
        return quoted + "'";
    };
    std::string command =
        quote(objdump) + " -d -w --no-show-raw-insn -M att,suffix " + quote(object) + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        *error = "cannot run " + objdump;
        return false;
    }
    std::string text;
    char buffer[4096];
    size_t got = 0;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        text.append(buffer, got);
    }
    int status = pclose(pipe);
    if (status != 0) {
        *error = objdump + " failed on " + object + ":\n" + text;
        return false;
    }
    size_t before = functions->size();
    parse_disassembly(text, functions);
    if (functions->size() == before) {
        *error = "no function found in " + object;
        return false;
    }
    return true;
}

bool is_immediate(const std::string& operand) {
    return !operand.empty() && operand[0] == '$';
}

bool is_register(const std::string& operand) {
    return !operand.empty() && operand[0] == '%' && operand.find(':') == std::string::npos &&
           operand.find('(') == std::string::npos;
}

bool is_memory_operand(const std::string& operand) {
    if (operand.empty() || is_immediate(operand) || operand[0] == '*') {
        return false;
    }
    // "(%rax)", "-0x4(%rcx)", "%es:(%rdi)", or an absolute address "0x0".
    return operand.find('(') != std::string::npos || !is_register(operand);
}

std::string base_register(const std::string& operand) {
    size_t open = operand.find('(');
    if (open == std::string::npos || open + 1 >= operand.size() || operand[open + 1] != '%') {
        return "";
    }
    size_t end = operand.find_first_of(",)", open);
    return operand.substr(open + 2, end - open - 2);
}
