#pragma once
// An int member of a request, as the JSON library's integer conversion
// reads it (a fraction is cut, a wider integer wraps, a boolean is 0 or 1,
// another type raises its type error), without its undefined case: a
// floating value beyond the int range gives INT_MIN, as the processor's
// own conversion does, instead of whatever the compiler makes of it. Free
// of any system header (see RequestFields.h).
#include <climits>
#include <nlohmann/json.hpp>

inline int JsonInt(const nlohmann::json& value)
{
    if (!value.is_number_float())
        return value.get<int>();
    const double number = value.get<double>();
    if (number > -2147483649.0 && number < 2147483648.0)
        return static_cast<int>(number);
    return INT_MIN;
}
