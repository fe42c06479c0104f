#pragma once

#include "types.h"

namespace Http {

// What the server hands each complete request to; the web application implements it.
class IRequestHandler
{
public:
    virtual ~IRequestHandler() = default;
    virtual Response processRequest(const Request& request, const Environment& env) = 0;
};

} // namespace Http
