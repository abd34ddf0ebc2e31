# Fuzzes with the counting build from the seed corpus for a fixed number
# of runs, and merges what it counted into the fuzzer's profile.
#   cmake -DFUZZER=... -DPROFDATA=... -DCORPUS=... -DDICT=... -DWORK=... -DPROFILE=... -P profile.cmake
# A fixed seed and number of runs make the same profile every time.
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/corpus")
set(ENV{LLVM_PROFILE_FILE} "${WORK}/run.profraw")
execute_process(
  COMMAND "${FUZZER}" -runs=100000 -seed=1 -max_len=8192 "-dict=${DICT}"
          "-artifact_prefix=${WORK}/" "${WORK}/corpus" "${CORPUS}"
  OUTPUT_FILE "${WORK}/run.log" ERROR_FILE "${WORK}/run.log"
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the counting fuzzer stopped with ${status}: a fault it found is in ${WORK}, its log in ${WORK}/run.log")
endif()
execute_process(
  COMMAND "${PROFDATA}" merge -o "${PROFILE}" "${WORK}/run.profraw"
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${PROFDATA} could not merge ${WORK}/run.profraw")
endif()
