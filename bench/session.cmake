# Fifty 1 MiB files from the loopback server through the session manager's download tasks, against the
# curl command-line tool fetching the same files in one run.
rig_bench(bench_session
  SOURCES session.cpp
          ${PROJECT_SOURCE_DIR}/tests/support/server/LoopbackServer.cpp
          ${PROJECT_SOURCE_DIR}/tests/support/server/TestCertificates.cpp
  DEPS httpclient_session cpp-httplib OpenSSL::SSL OpenSSL::Crypto Threads::Threads)
