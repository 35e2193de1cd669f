#pragma once
// ADC readings of the thermistor divider and the look-up table source text.

#include "tools/thermistor/rt_table.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace quillon::thermistor {

enum class Circuit { Rt_Above_R, R_Above_Rt }; // circuit 1, circuit 2

// Division by zero, a non-finite reading, or one beyond 32 bits.
struct ArithmeticError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Full scale F (255 or 1023), divider R and thermistor Rt in the same unit.
// circuit 1: F*R/(Rt+R); circuit 2: Rt*F/(Rt+R); truncated toward zero.
int32_t adcCode(long double fullScale, long double r, long double rt, Circuit circuit);

struct EmitOptions {
    long double r = 22;
    bool tenBits = false;
    Circuit circuit = Circuit::Rt_Above_R;
    bool asmStyle = false;
    bool prefix = false;   // marker before the digits (else after)
    std::string directive; // data directive as typed; empty means "DB"
    std::string marker;    // hexadecimal marker as typed
};

std::string headerLine(const EmitOptions& o);
// `comma` only matters for C.
std::string tableLine(const EmitOptions& o, int32_t code, long double t, long double rt, bool comma);
// The text appended as the last memo line: "};\n" for C, "\n" for assembler.
std::string closingText(const EmitOptions& o);

struct EmitResult {
    enum class Status { Ok, BadNumber, Arithmetic };
    Status status = Status::Ok;
    int failedRow = -1;             // data row of a bad number
    std::vector<std::string> lines; // header and every line emitted so far
    // Memo text: lines joined by LF, plus the closing line when complete.
    std::string text() const;
    bool complete = false;
    std::string closing;
};

// Walks the data rows in grid order, emitting one line per complete row.
// Stops at the first row whose numbers do not read, or whose reading fails.
EmitResult emitTable(const std::vector<Row>& rows, const EmitOptions& o);

// The page's usage text, eleven lines joined by LF.
std::string usageText();

} // namespace quillon::thermistor
