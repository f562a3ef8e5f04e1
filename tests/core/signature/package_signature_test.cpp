// Tests of the package signature file (signature layer): SHA-256 of bytes
// and files, the written file read back and checked, and every malformed
// form the reader refuses.
#include "core/signature/package_signature.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "core/signature/sha256.h"
#include "tests/support/test_support.h"

namespace qx {
namespace {

const std::string kHashA(64, 'a');
const std::string kHashB = Sha256Of("b");
constexpr char kFirstName[] = "app\\bin\\run me.exe";
constexpr char kSecondName[] = " lead space ";

SigningKey NewKey() {
  SignatureResult<SigningKey> made = MakeSigningKey();
  EXPECT_TRUE(made.ok()) << made.error;
  return made.value;
}

PackageSignature SampleSignature() {
  PackageSignature signature;
  signature.sequence = 7;
  signature.header_sha256 = kHashA;
  signature.files = {{kFirstName, 10, kHashA}, {kSecondName, 0, kHashB}};
  return signature;
}

// |text| with its first |from| replaced by |to|.
std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

TEST(Sha256, BytesAndFilesGiveTheStandardDigest) {
  EXPECT_EQ(Sha256Of(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Sha256Of("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  qx_test::TempDir dir;
  // Larger than a read block, so the blocks are joined.
  const std::string bytes = qx_test::RandomBytes(200 * 1024 + 3, 11);
  qx_test::WriteFile(dir / "stored", bytes);
  EXPECT_EQ(Sha256OfFile(dir / "stored").value, Sha256Of(bytes));
  qx_test::WriteFile(dir / "empty", "");
  EXPECT_EQ(Sha256OfFile(dir / "empty").value, Sha256Of(""));
  EXPECT_EQ(Sha256OfFile(dir / "missing").error, dir / "missing" + ": No such file or directory");
}

TEST(PackageSignature, WrittenFileReadsBackAndItsSignatureHolds) {
  const SigningKey key = NewKey();
  PackageSignature written = SampleSignature();
  written.sequence = 18446744073709551615u;
  const SignatureResult<std::string> text = SignatureText(written, key);
  ASSERT_TRUE(text.ok()) << text.error;
  EXPECT_EQ(text.value.substr(0, text.value.find("\nsignature ") + 1),
            "qxweb-signature 1\nkey " + PublicKeyLine(key.public_key()) +
                "\nsequence 18446744073709551615\nheader " + kHashA + "\nfiles 2\nfile 10 " +
                kHashA + " app\\bin\\run me.exe\nfile 0 " + kHashB + "  lead space \n");

  const SignatureResult<PackageSignature> read = ParseSignature(text.value);
  ASSERT_TRUE(read.ok()) << read.error;
  const PackageSignature& parsed = read.value;
  EXPECT_EQ(parsed.version, 1);
  EXPECT_EQ(parsed.public_key, key.public_key());
  EXPECT_EQ(parsed.key_id, KeyId(key.public_key()));
  EXPECT_EQ(parsed.sequence, written.sequence);
  EXPECT_EQ(parsed.header_sha256, kHashA);
  ASSERT_EQ(parsed.files.size(), 2u);
  EXPECT_EQ(parsed.files[0].name, kFirstName);
  EXPECT_EQ(parsed.files[0].length, 10);
  EXPECT_EQ(parsed.files[1].name, kSecondName);
  EXPECT_EQ(parsed.files[1].sha256, kHashB);
  EXPECT_EQ(VerifySignature(parsed, text.value), "");
  EXPECT_EQ(CheckSignerKey(parsed, key.public_key()), "");
  const std::string other = NewKey().public_key();
  EXPECT_EQ(CheckSignerKey(parsed, other),
            "signed with key " + parsed.key_id + ", not with the required key " + KeyId(other));

  // No file written with another key's line in place of the signer's holds.
  const std::string swapped =
      Replaced(text.value, PublicKeyLine(key.public_key()), PublicKeyLine(other));
  const SignatureResult<PackageSignature> swapped_read = ParseSignature(swapped);
  ASSERT_TRUE(swapped_read.ok()) << swapped_read.error;
  EXPECT_NE(VerifySignature(swapped_read.value, swapped), "");
}

TEST(PackageSignature, AnyChangedByteIsRefusedOrFailsTheCheck) {
  const std::string text = SignatureText(SampleSignature(), NewKey()).value;
  ASSERT_FALSE(text.empty());
  for (size_t i = 0; i < text.size(); ++i) {
    for (const char flip : {0x01, 0x20}) {
      std::string changed = text;
      changed[i] ^= flip;
      const SignatureResult<PackageSignature> read = ParseSignature(changed);
      EXPECT_TRUE(!read.ok() || VerifySignature(read.value, changed) != "")
          << "byte " << i << " xor " << int{flip};
    }
  }
}

TEST(PackageSignature, WriterRefusesFieldsTheReaderWouldRefuse) {
  const SigningKey key = NewKey();
  const auto error = [&key](const std::function<void(PackageSignature&)>& change) {
    PackageSignature signature = SampleSignature();
    change(signature);
    return SignatureText(signature, key).error;
  };
  EXPECT_NE(error([](PackageSignature& s) { s.files[0].name = "two\nlines"; }), "");
  EXPECT_NE(error([](PackageSignature& s) { s.files[1].name = kFirstName; }), "");
  EXPECT_NE(error([](PackageSignature& s) { s.files[0].length = -1; }), "");
  EXPECT_NE(error([](PackageSignature& s) { s.header_sha256 = "ABC"; }), "");
  EXPECT_NE(error([](PackageSignature& s) { s.version = 2; }), "");
  EXPECT_EQ(SignatureText(SampleSignature(), SigningKey()).error, "no key to sign with");
}

TEST(PackageSignature, ReaderNamesTheLineAndTheFaultOfEveryMalformedFile) {
  const std::string good = SignatureText(SampleSignature(), NewKey()).value;
  ASSERT_FALSE(good.empty());
  const std::string first_file = "file 10 " + kHashA + " " + kFirstName + "\n";
  const std::string second_file = "file 0 " + kHashB + " " + kSecondName + "\n";
  const std::string header = "header " + kHashA + "\n";
  const std::string signature_line = good.substr(good.find("\nsignature ") + 1);
  using Mutation = std::function<std::string(std::string)>;
  const auto replace = [](const std::string& from, const std::string& to) -> Mutation {
    return [from, to](std::string text) { return Replaced(std::move(text), from, to); };
  };
  struct Case {
    const char* what;
    Mutation mutate;
    std::string error;
  };
  const Case cases[] = {
      {"empty", [](std::string) { return std::string(); }, "line 1: the file is empty"},
      {"other magic", replace("qxweb-signature 1", "qxweb-sig 1"), "line 1: not a signature file"},
      {"later version", replace("qxweb-signature 1", "qxweb-signature 2"),
       "line 1: signature format version \"2\" is not known (this reader knows 1)"},
      {"CR LF", replace("sequence 7\n", "sequence 7\r\n"), "line 3: a carriage return"},
      {"NUL", replace("sequence 7", std::string("sequence 7\0", 11)),
       "line 3: a control character"},
      {"no last line feed", [](std::string text) { return text.substr(0, text.size() - 1); },
       "line 8: the file ends without a line feed"},
      {"cut after the files line",
       [](std::string text) { return text.substr(0, text.find("file ")); },
       "line 6: the file ends where file line 1 of 2 belongs"},
      {"trailing line", [](std::string text) { return text + "x\n"; },
       "line 9: a line after the 'signature' line"},
      {"trailing empty line", [](std::string text) { return text + "\n"; },
       "line 9: a line after the 'signature' line"},
      {"unknown line", replace("sequence 7\n", "sequence 7\ncomment hi\n"),
       "line 4: unknown line \"comment hi\", where the 'header' line belongs"},
      {"missing key line", replace("key ", "nokey "),
       "line 2: unknown line \"nokey qxweb-ed25519 "},
      {"missing line", replace("sequence 7\n", ""),
       "line 3: the 'header' line out of order, where the 'sequence' line belongs"},
      {"repeated line", replace("sequence 7\n", "sequence 7\nsequence 7\n"),
       "line 4: a second 'sequence' line (the first is line 3), where the 'header' line"},
      {"lines swapped", replace("sequence 7\n" + header, header + "sequence 7\n"),
       "line 3: the 'header' line out of order, where the 'sequence' line belongs"},
      {"line without value", replace("sequence 7", "sequence"),
       "line 3: the 'sequence' line has no value"},
      {"wrong key id", replace(KeyId(ParseSignature(good).value.public_key), "0123456789abcdef"),
       "line 2: the key id is not"},
      {"leading zero", replace("sequence 7", "sequence 07"), "line 3: \"07\" is no sequence"},
      {"signed number", replace("sequence 7", "sequence +7"), "line 3: \"+7\" is no sequence"},
      {"number overflows", replace("sequence 7", "sequence 18446744073709551616"),
       "line 3: \"18446744073709551616\" is no sequence number"},
      {"blank after number", replace("sequence 7", "sequence 7 "), "line 3: \"7 \" is no"},
      {"upper-case hash", replace(header, "header " + std::string(64, 'A') + "\n"),
       "line 4: \"AAAAAAAAAAAAAAAAAAAAAAAA...\" is no SHA-256"},
      {"short hash", replace(header, "header " + kHashA.substr(1) + "\n"),
       "line 4: \"aaaaaaaaaaaaaaaaaaaaaaaa...\" is no SHA-256"},
      {"more files counted", replace("files 2", "files 3"),
       "line 8: the 'signature' line out of order, where file line 3 of 3 belongs"},
      {"fewer files counted", replace("files 2", "files 1"),
       "line 7: a file line, where the 'signature' line after 1 file lines belongs"},
      {"too many files", replace("files 2", "files 1000001"),
       "line 5: \"1000001\" is no file count"},
      {"larger than its files allow",
       [](std::string text) { return text + std::string(800, '\n'); },
       "line 5: a signature of 2 files has at most 1214 bytes, not"},
      {"Length with leading zero", replace("file 10 ", "file 010 "),
       "line 6: \"010\" is no Length"},
      {"negative Length", replace("file 10 ", "file -10 "), "line 6: \"-10\" is no Length"},
      {"Length overflows", replace("file 10 ", "file 9223372036854775808 "),
       "line 6: \"9223372036854775808\" is no Length"},
      {
          "bad file hash",
          replace(second_file, "file 0 " + kHashB.substr(2) + "zz " + kSecondName),
          "line 7: \"",
      },
      {"no name", replace(second_file, "file 0 " + kHashB + "\n"),
       "line 7: a file line is \"file LENGTH SHA256 NAME\""},
      {"empty name", replace(second_file, "file 0 " + kHashB + " \n"),
       "line 7: the name is empty or longer than 260 bytes"},
      {"long name", replace(second_file, "file 0 " + kHashB + " " + std::string(261, 'n') + "\n"),
       "line 7: the name is empty or longer than 260 bytes"},
      {"tab in name", replace("run me", "run\tme"), "line 6: a control character"},
      {"same name twice", replace(second_file, "file 0 " + kHashB + " " + kFirstName + "\n"),
       "line 7: a second file line for \"app\\bin\\run me.exe\" (the first is line 6)"},
      {"bad signature", replace(signature_line, "signature " + std::string(88, 'A') + "\n"),
       "line 8: the signature is not the base64 of 64 bytes"},
      {"short signature", replace(signature_line, "signature AAAA\n"),
       "line 8: the signature is not the base64 of 64 bytes"},
      {"two signatures", [&](std::string text) { return text + signature_line; },
       "line 9: a line after the 'signature' line"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const SignatureResult<PackageSignature> read = ParseSignature(c.mutate(good));
    EXPECT_FALSE(read.ok());
    EXPECT_NE(read.error.find(c.error), std::string::npos) << read.error;
  }
}

}  // namespace
}  // namespace qx
