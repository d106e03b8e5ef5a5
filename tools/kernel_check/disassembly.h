// The disassembly of object files as objdump prints it (AT&T syntax, with
// size suffixes), read into functions and instructions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Instruction {
    uint64_t address;
    std::string prefix;                // rep, lock, ... or empty
    std::string mnemonic;              // as printed, size suffix included
    std::vector<std::string> operands; // sources first, destination last
    bool has_target;                   // a direct jump or call
    uint64_t target;
};

struct Function {
    std::string name; // the symbol as printed (mangled)
    std::vector<Instruction> code;
};

// Runs `objdump -d` on one object file and appends its functions; false
// with a message when objdump cannot be run or prints nothing usable.
bool read_disassembly(const std::string& objdump, const std::string& object,
                      std::vector<Function>* functions, std::string* error);

// Parses objdump's text; used by read_disassembly and by tests.
void parse_disassembly(const std::string& text, std::vector<Function>* functions);

// Operand helpers (AT&T syntax).
bool is_memory_operand(const std::string& operand);
bool is_immediate(const std::string& operand);
bool is_register(const std::string& operand);
// The base register of a memory operand ("rsp" for "0x8(%rsp)"), or empty.
std::string base_register(const std::string& operand);
