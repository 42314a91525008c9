// SPDX-License-Identifier: GPL-3.0-or-later
// Times key derivation and a whole encrypt + decrypt of an 800-character message against
// OpenSSL's PBKDF2-HMAC-SHA-512 with the same inputs, and checks both derive the same bytes.

#include <openssl/evp.h>
#include <openssl/sha.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench_support.h"
#include "crypto/message_cipher.h"

namespace {

using Clock = std::chrono::steady_clock;

std::vector<unsigned char> OpenSslDerive(const std::string& password) {
  unsigned char salt[SHA512_DIGEST_LENGTH];
  SHA512(reinterpret_cast<const unsigned char*>(password.data()), password.size(), salt);
  std::vector<unsigned char> out(64);
  PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salt, sizeof salt,
                    velkorant::kPbkdf2Iterations, EVP_sha512(), static_cast<int>(out.size()),
                    out.data());
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 41;
  const std::string password = "contraseña compartida";

  const auto ours = velkorant::DeriveKeyAndIv(password);
  const auto reference = OpenSslDerive(password);
  if (std::memcmp(ours.key.data(), reference.data(), 32) != 0 ||
      std::memcmp(ours.iv.data(), reference.data() + 32, 16) != 0) {
    std::fprintf(stderr, "derived bytes differ from OpenSSL's\n");
    return 1;
  }

  const std::string message(800, 'm');
  const std::string transport = velkorant::EncryptText(message, password);
  if (velkorant::DecryptText(transport, password) != message) {
    std::fprintf(stderr, "round trip failed\n");
    return 1;
  }

  volatile unsigned char sink = 0;
  const double openssl_ms =
      velkorant::bench::MedianMs(rounds, [&] { sink = OpenSslDerive(password)[0]; });
  const double derive_ms = velkorant::bench::MedianMs(
      rounds, [&] { sink = velkorant::DeriveKeyAndIv(password).key[0]; });
  const double round_trip_ms = velkorant::bench::MedianMs(rounds, [&] {
    sink = static_cast<unsigned char>(
        velkorant::DecryptText(velkorant::EncryptText(message, password), password).size());
  });
  (void)sink;

  std::printf("rounds (median of)            %d\n", rounds);
  std::printf("OpenSSL PBKDF2-HMAC-SHA-512   %.2f ms\n", openssl_ms);
  std::printf("DeriveKeyAndIv                %.2f ms  ratio %.2f\n", derive_ms,
              derive_ms / openssl_ms);
  std::printf("EncryptText + DecryptText     %.2f ms  ratio %.2f (two derivations)\n",
              round_trip_ms, round_trip_ms / openssl_ms);
  return 0;
}
