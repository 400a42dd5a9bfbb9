#include "net/answer_chunks.h"

#include <gtest/gtest.h>

#include <string>

TEST(AnswerChunks, StatusLinesThatEndTheRequest) {
  EXPECT_EQ(JudgeAnswerChunk("HTTP/1.1 407 Proxy Authentication Required\r\n\r\nx").kind,
            ChunkKind::kCredentialsRequired);
  EXPECT_EQ(JudgeAnswerChunk("HTTP/1.0 403 Forbidden\r\n").kind, ChunkKind::kForbidden);
  EXPECT_EQ(JudgeAnswerChunk("HTTP/1.1 502 Bad Gateway").kind, ChunkKind::kProxyError);
  // Anywhere in a chunk that begins with a status line, in this order.
  EXPECT_EQ(JudgeAnswerChunk("HTTP/1.1 200 OK\r\nX: HTTP/1.0 502 HTTP/1.1 403\r\n\r\n").kind,
            ChunkKind::kForbidden);
}

TEST(AnswerChunks, DataChunks) {
  // The same text in a chunk that does not begin with "HTTP/1" is data.
  ChunkVerdict verdict = JudgeAnswerChunk("body HTTP/1.1 407 more");
  EXPECT_EQ(verdict.kind, ChunkKind::kData);
  EXPECT_EQ(verdict.append, "body HTTP/1.1 407 more");

  verdict = JudgeAnswerChunk("HTTP/1.1 200 OK\r\nServer: Resin/3.0\r\n\r\nStatusCode=200\r\n\r\nx");
  EXPECT_EQ(verdict.kind, ChunkKind::kData);
  EXPECT_EQ(verdict.append, "StatusCode=200\r\n\r\nx");

  // Header lines with bare line feeds have no CR LF CR LF: the whole chunk.
  verdict = JudgeAnswerChunk("HTTP/1.0 200 OK\n\nStatusCode=200");
  EXPECT_EQ(verdict.append, "HTTP/1.0 200 OK\n\nStatusCode=200");
  EXPECT_EQ(JudgeAnswerChunk("HTTP/1.1 200 OK\r\n\r\n").append, "");
}

TEST(AnswerChunks, ChunkTextEndsAtTheFirstZero) {
  const char chunk[] = "ab\0cd";
  EXPECT_EQ(ChunkText(chunk, 5), "ab");
  EXPECT_EQ(ChunkText(chunk, 2), "ab");
  EXPECT_EQ(ChunkText("", 0), "");
}

TEST(AnswerChunks, ErrorLine) {
  EXPECT_EQ(ErrorLineOf("HTTP/1.1 407 Proxy Authentication Required\r\nServer: squid\r\n"),
            "HTTP/1.1 407 Proxy Authentication Required");
  // A bare line feed or no line feed at all keeps the whole line.
  EXPECT_EQ(ErrorLineOf("HTTP/1.0 403 Forbidden\nx"), "HTTP/1.0 403 Forbidden");
  EXPECT_EQ(ErrorLineOf("HTTP/1.0 403"), "HTTP/1.0 403");
  // At most 127 characters.
  const std::string longer = "HTTP/1.1 502 " + std::string(200, 'x') + "\r\n";
  EXPECT_EQ(ErrorLineOf(longer), longer.substr(0, 127));
  const std::string exact = std::string(127, 'y') + "\r\n";
  EXPECT_EQ(ErrorLineOf(exact), exact.substr(0, 127));
}

// Every prefix of an answer is judged without reading past it.
TEST(AnswerChunks, EveryPrefix) {
  const std::string answer =
      "HTTP/1.1 407 Proxy Authentication Required\r\nServer: squid/5.7\r\n\r\n<html>";
  for (size_t n = 0; n <= answer.size(); ++n) {
    const std::string prefix = answer.substr(0, n);
    ChunkVerdict verdict = JudgeAnswerChunk(prefix);
    const bool complete = n >= 12;  // "HTTP/1.1 407"
    EXPECT_EQ(verdict.kind == ChunkKind::kCredentialsRequired, complete) << n;
    EXPECT_LE(ErrorLineOf(prefix).size(), 127u);
  }
}
