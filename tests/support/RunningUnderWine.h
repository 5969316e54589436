// Whether a Windows test program runs under wine rather than Windows: a few socket
// details differ there (wine binds a UDP socket to every address of its interface).
#pragma once

namespace zxtest {

bool runningUnderWine();

} // namespace zxtest
