// Compressed database files: an index file NAME.JIX and chunk files
// NAME.J00, NAME.J01, ... holding 32768-byte blocks coded one by one.
#pragma once

// 1 when NAME.JIX can be opened for reading.
int JarExists(const char* name);
