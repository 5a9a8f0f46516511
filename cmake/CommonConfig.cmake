# One compile setup every target links: the language level and the warnings.
add_library(velquist_common INTERFACE)
target_compile_features(velquist_common INTERFACE cxx_std_20)
target_compile_options(velquist_common INTERFACE -Wall -Wextra)

# The version the programs show and send. Packages of a newer version (scripts/update-demo.sh)
# are built with another value.
set(VELQUIST_VERSION_TEXT "1.0.2.2" CACHE STRING "Version text of the programs")
target_compile_definitions(velquist_common INTERFACE
  VELQUIST_VERSION_TEXT="${VELQUIST_VERSION_TEXT}")
