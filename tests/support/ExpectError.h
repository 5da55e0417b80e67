#pragma once

#include <gtest/gtest.h>

#include <exception>
#include <functional>
#include <stdexcept>

// Runs f and returns the exception of type E it raised; fails the test otherwise.
template <class E>
E expectError(const std::function<void()>& f)
{
    try {
        f();
    } catch (const E& e) {
        return e;
    } catch (const std::exception& e) {
        ADD_FAILURE() << "unexpected error: " << e.what();
        throw;
    }
    ADD_FAILURE() << "no error raised";
    throw std::logic_error("no error raised");
}
