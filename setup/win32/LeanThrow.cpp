// The runtime's throw helpers, defined by the stub so that the runtime's own do not link. Those all
// sit in one object, and the mingw linker keeps every function with an unwind entry in a linked
// object: one helper brings all of them, each building a standard exception around a
// reference-counted string, and with them that string's whole instantiation, the standard
// exceptions' constructors and the runtime's other string instantiation (about 75 KB).
//
// What the setup program catches decides what these throw: std::bad_alloc by type (thrown as
// before), and everything else only as std::exception, whose what() text is logged. So the other
// helpers throw one exception that holds the same what() text as the standard one would, in the
// exception object itself. A helper that a new caller needs and this file lacks brings the
// runtime's object back; the check after the link names it (cmake/StubSize.cmake).
#include <bits/functexcept.h>

#include <cstdarg>
#include <cstddef>
#include <cstring>
#include <exception>
#include <new>

namespace {

class HeldTextError : public std::exception {
public:
    explicit HeldTextError(const char* text) { append(text); }
    const char* what() const noexcept override { return mText; }

    // The runtime's formatter for these messages knows %s, %zu and %%, and nothing else.
    HeldTextError(const char* format, va_list args)
    {
        for (const char* c = format; *c != '\0'; ++c) {
            if (c[0] == '%' && c[1] == 's') {
                append(va_arg(args, const char*));
                ++c;
            } else if (c[0] == '%' && c[1] == 'z' && c[2] == 'u') {
                appendDecimal(va_arg(args, size_t));
                c += 2;
            } else if (c[0] == '%' && c[1] == '%') {
                appendChar('%');
                ++c;
            } else {
                appendChar(*c);
            }
        }
    }

private:
    void appendChar(char c)
    {
        if (mLength + 1 < sizeof mText)
            mText[mLength++] = c;
        mText[mLength] = '\0';
    }
    void append(const char* text)
    {
        while (*text != '\0')
            appendChar(*text++);
    }
    void appendDecimal(size_t value)
    {
        char digits[3 * sizeof value];
        size_t count = 0;
        do {
            digits[count++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        while (count > 0)
            appendChar(digits[--count]);
    }

    // The longest message of the runtime, with a function name and two numbers, is under 100 bytes.
    char mText[240] = {};
    size_t mLength = 0;
};

} // namespace

namespace std {

void __throw_bad_alloc()
{
    throw bad_alloc();
}

void __throw_bad_array_new_length()
{
    throw bad_array_new_length();
}

void __throw_length_error(const char* text)
{
    throw HeldTextError(text);
}

void __throw_logic_error(const char* text)
{
    throw HeldTextError(text);
}

void __throw_out_of_range_fmt(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    HeldTextError error(format, args);
    va_end(args);
    throw error;
}

// A mutex that cannot be taken: the text is the one a system_error of the generic category gives.
void __throw_system_error(int code)
{
    throw HeldTextError(strerror(code));
}

} // namespace std
