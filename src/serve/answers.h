// The web explorer's JSON answers, in the shape of the public tablebase web
// API, computed from the probing library without any HTTP around them (the
// server and the tests call them alike).
#pragma once

#include <string>

#include "zok/probe.h"

struct Answer {
  int status;        // HTTP status: 200, 400, 404, 500
  std::string body;  // JSON, always well-formed
};

// GET /standard: the position's value from the side to move and every legal
// move with the value of the position it leads to, best first. `fen` may
// write spaces as underscores.
Answer StandardAnswer(zok_tb* tb, const std::string& fen);

// GET /standard/mainline: the line both sides play to mate.
Answer MainlineAnswer(zok_tb* tb, const std::string& fen);

// A JSON error body: {"error": text} (and "missing" when given).
std::string ErrorBody(const std::string& text, const char* missing = nullptr);
