#include "tools/thermistor/rt_codegen.h"

#include "common/numbers.h"
#include "common/text.h"

#include <cmath>
#include <cstdio>

namespace quillon::thermistor {

int32_t adcCode(long double fullScale, long double r, long double rt, Circuit circuit)
{
    const long double sum = rt + r;
    if (sum == 0) throw ArithmeticError("division by zero");
    const long double value = circuit == Circuit::Rt_Above_R ? (fullScale * r) / sum : (rt * fullScale) / sum;
    if (!std::isfinite(value)) throw ArithmeticError("non-finite reading");
    const long double t = std::trunc(value);
    // A reading that does not fit the 32-bit code would print as garbage.
    if (t < -2147483648.0L || t > 2147483647.0L) throw ArithmeticError("reading out of range");
    return static_cast<int32_t>(t);
}

namespace {

std::string format(const char* fmt, auto... args)
{
    const int n = std::snprintf(nullptr, 0, fmt, args...);
    std::string s(static_cast<size_t>(n), '\0');
    std::snprintf(s.data(), s.size() + 1, fmt, args...);
    return s;
}

unsigned codeBits(int32_t code) { return static_cast<uint32_t>(code); }

} // namespace

std::string headerLine(const EmitOptions& o)
{
    if (o.asmStyle) return "rtTable:";
    return o.tenBits ? "unsigned int rtTable[] = {" : "unsigned char rtTable[] = {";
}

std::string tableLine(const EmitOptions& o, int32_t code, long double t, long double rt, bool comma)
{
    if (!o.asmStyle) {
        return format(comma ? "\t0x0%x,\t// %3.2Lf\t\t%3.4Lf" : "\t0x0%x\t// %3.2Lf\t\t%3.4Lf", codeBits(code), t, rt);
    }
    const std::string directive = o.directive.empty() ? std::string("DB") : o.directive;
    std::string line = "\t" + directive + "\t";
    if (o.prefix) {
        line += o.marker + format("0%x", codeBits(code));
    } else {
        line += format("0%x", codeBits(code)) + o.marker;
    }
    return line + format("\t; %3.2Lf\t\t%3.4Lf", t, rt);
}

std::string closingText(const EmitOptions& o) { return o.asmStyle ? "\n" : "};\n"; }

std::string EmitResult::text() const
{
    std::string out;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i) out += '\n';
        out += lines[i];
    }
    if (complete) {
        if (!lines.empty()) out += '\n';
        out += closing;
    }
    return out;
}

EmitResult emitTable(const std::vector<Row>& rows, const EmitOptions& o)
{
    EmitResult res;
    res.closing = closingText(o);
    res.lines.push_back(headerLine(o));
    const long double fullScale = o.tenBits ? 1023.0L : 255.0L;
    for (size_t i = 0; i < rows.size(); ++i) {
        if (!isComplete(rows[i])) continue;
        const auto rt = parseDecimal(trimmed(rows[i].resistance));
        const auto t = parseDecimal(trimmed(rows[i].temperature));
        if (!rt || !t) {
            res.status = EmitResult::Status::BadNumber;
            res.failedRow = static_cast<int>(i);
            return res;
        }
        int32_t code;
        try {
            code = adcCode(fullScale, o.r, *rt, o.circuit);
        } catch (const ArithmeticError&) {
            res.status = EmitResult::Status::Arithmetic;
            res.failedRow = static_cast<int>(i);
            return res;
        }
        // The comma looks only at the very next grid row, so a gap row ends the list early.
        const bool comma = i + 1 < rows.size() && isComplete(rows[i + 1]);
        res.lines.push_back(tableLine(o, code, *t, *rt, comma));
    }
    res.complete = true;
    return res;
}

std::string usageText()
{
    return "欢迎使用Quillon之 RT 转换器！使用方法：\n"
           " \n"
           "1. 选择所用采样电路类型，分压电阻，采样精度；\n"
           "2. 输入或从文件中读入数据；\n"
           "3. 可以将输入的数据保存供以后使用;\n"
           "4. 选择生成编码的使用语言(C/ASM)，选ASM时，在\n"
           "    旁边的编辑框内填入相应数据定义指令，默认为\n"
           "    DB; 以及16进制数据描述符，分前缀或后缀，如\n"
           "    0xFF,$FF,FFH等；\n"
           "5. 单击\"计算\"生成编码；\n"
           "6. 单击\"复制\"将编码结果拷贝到粘贴板, 一切OK！";
}

} // namespace quillon::thermistor
