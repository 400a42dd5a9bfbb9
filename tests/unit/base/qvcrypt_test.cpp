#include "base/qvcrypt.h"

#include <gtest/gtest.h>

#include "support/work_dir.h"

TEST(DecryptString, ReadsWhatOpensslEncWritesAndNothingElse) {
  // printf secret-device-key-42 |
  //   openssl enc -aes-256-cbc -pbkdf2 -a -A -pass 'pass:A Lantern by the Harbour'
  const char* stored = "U2FsdGVkX19WN5m3TExRffhjx+l0u63p2nPn9IgAmt5b9Wk8b8APYZHLcT3MDccd";
  const char* phrase = "A Lantern by the Harbour";
  char out[kDecryptBufferSize];
  ASSERT_EQ(DecryptString(stored, out, phrase), out);
  EXPECT_STREQ(out, "secret-device-key-42");
  EXPECT_EQ(DecryptString(stored, out, "another phrase"), nullptr);
  for (const char* text : {"", "0", "====", "U2FsdGVkX18=", "not base64!", "U2FsdGVkX19WN5m3"}) {
    EXPECT_EQ(DecryptString(text, out, phrase), nullptr) << text;
  }
  EXPECT_EQ(DecryptString(nullptr, out, phrase), nullptr);
}

TEST(DigestFile, Sha256AsLowerCaseHexIntoABufferLargeEnough) {
  ScopedWorkDir dir;
  WriteText("abc.txt", "abc");
  char digest[65], small[64] = "x";
  ASSERT_EQ(DigestFile("abc.txt", digest, sizeof digest), 0);
  EXPECT_STREQ(digest, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(DigestFile("abc.txt", small, sizeof small), -1);
  EXPECT_STREQ(small, "");
  EXPECT_EQ(DigestFile("missing.txt", digest, sizeof digest), -1);
}
