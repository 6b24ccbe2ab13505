# Fifty 1 MiB effect archives from the loopback server: the download service (then unpacked) against the
# curl command-line tool fetching the same files in the same iteration. The loopback server's sources are
# compiled in, as the optimised tree builds no test fixtures.
rig_bench(bench_download
  SOURCES download.cpp
          ${PROJECT_SOURCE_DIR}/tests/support/server/LoopbackServer.cpp
          ${PROJECT_SOURCE_DIR}/tests/support/server/TestCertificates.cpp
  DEPS server cpp-httplib OpenSSL::SSL OpenSSL::Crypto Threads::Threads)
