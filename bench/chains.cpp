#include "bench/chains.h"

#if defined(__x86_64__) || defined(__i386__)
#define REPEAT_STEPS ".rept 1000\n\t"
static_assert(CHAIN_STEPS == 1000, "REPEAT_STEPS repeats each chain step 1000 times");

bool chains_available() {
    return true;
}

uint32_t chain_add(uint32_t value) {
    asm volatile(REPEAT_STEPS "addl $1, %0\n\t.endr" : "+r"(value));
    return value;
}

uint32_t chain_imul(uint32_t value, uint32_t factor) {
    asm volatile(REPEAT_STEPS "imull %1, %0\n\t.endr" : "+r"(value) : "r"(factor));
    return value;
}

uint32_t chain_sar(uint32_t value) {
    asm volatile(REPEAT_STEPS "sarl $15, %0\n\t.endr" : "+r"(value));
    return value;
}

float chain_mulss(float value, float factor) {
    asm volatile(REPEAT_STEPS "mulss %1, %0\n\t.endr" : "+x"(value) : "x"(factor));
    return value;
}

float chain_addss(float value, float term) {
    asm volatile(REPEAT_STEPS "addss %1, %0\n\t.endr" : "+x"(value) : "x"(term));
    return value;
}

int32_t chain_filter_int(int32_t state, int32_t feedback, int32_t input) {
    asm volatile(REPEAT_STEPS "imull %1, %0\n\tsarl $15, %0\n\taddl %2, %0\n\t.endr"
                 : "+r"(state)
                 : "r"(feedback), "r"(input));
    return state;
}

float chain_filter_float(float state, float feedback, float input) {
    asm volatile(REPEAT_STEPS "mulss %1, %0\n\taddss %2, %0\n\t.endr"
                 : "+x"(state)
                 : "x"(feedback), "x"(input));
    return state;
}
int32_t chain_filter_int_output(int32_t state, int32_t feedback, int32_t input, int32_t gain) {
    int32_t output = 0;
    asm volatile(REPEAT_STEPS "imull %2, %0\n\tsarl $15, %0\n\taddl %3, %0\n\tmovl %0, %1\n\t"
                              "imull %4, %1\n\t.endr"
                 : "+r"(state), "+r"(output)
                 : "r"(feedback), "r"(input), "r"(gain));
    return state + output;
}

float chain_filter_float_output(float state, float feedback, float input, float gain, float* sink) {
    float output = 0.0f;
    asm volatile(REPEAT_STEPS "mulss %3, %0\n\taddss %4, %0\n\tmovaps %5, %1\n\t"
                              "mulss %0, %1\n\tmovss %1, %2\n\t.endr"
                 : "+x"(state), "+x"(output), "=m"(*sink)
                 : "x"(feedback), "x"(input), "x"(gain));
    return state;
}
#else
bool chains_available() {
    return false;
}
uint32_t chain_add(uint32_t value) {
    return value;
}
uint32_t chain_imul(uint32_t value, uint32_t) {
    return value;
}
uint32_t chain_sar(uint32_t value) {
    return value;
}
float chain_mulss(float value, float) {
    return value;
}
float chain_addss(float value, float) {
    return value;
}
int32_t chain_filter_int(int32_t state, int32_t, int32_t) {
    return state;
}
float chain_filter_float(float state, float, float) {
    return state;
}
int32_t chain_filter_int_output(int32_t state, int32_t, int32_t, int32_t) {
    return state;
}
float chain_filter_float_output(float state, float, float, float, float*) {
    return state;
}
#endif
