# One compile setup every target links: the language level and the warnings.
add_library(velquist_common INTERFACE)
target_compile_features(velquist_common INTERFACE cxx_std_20)
target_compile_options(velquist_common INTERFACE -Wall -Wextra)
