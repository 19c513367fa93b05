# stills.sh: two folders of the film's stills compared with the tests' own
# PSNR (image-psnr), for the checks that render the same moments twice (on
# another OpenGL driver, on Windows). Source it, then:
#   stills_agree NAME BUILD EXPECTED ACTUAL MINIMUM LABEL
#     builds image-psnr in the build folder BUILD if needed, compares every
#     still-*.png of the folder EXPECTED with the one of the same name in
#     ACTUAL and prints "NAME: STILL, LABEL: PSNR X dB" for each; fails, once
#     all are compared, when one is missing, unreadable or below MINIMUM dB
#     ("inf": identical images)
stills_agree() {
  local name=$1 build=$2 expected=$3 actual=$4 minimum=$5 label=$6
  local status=0 still file psnr
  cmake --build "$build" --target image-psnr >/dev/null || {
    echo "$name: cannot build image-psnr in $build" >&2
    return 1
  }
  for still in "$expected"/still-*.png; do
    file=$(basename "$still")
    if [[ ! -f $actual/$file ]]; then
      echo "$name: no $file in $actual" >&2
      status=1
    elif ! psnr=$("$build/tests/image-psnr" "$still" "$actual/$file"); then
      echo "$name: cannot compare the two $file" >&2
      status=1
    elif [[ $psnr != inf ]] && awk -v p="$psnr" -v m="$minimum" 'BEGIN { exit !(p < m) }'; then
      echo "$name: $file, $label: PSNR $psnr dB, below $minimum" >&2
      status=1
    else
      echo "$name: $file, $label: PSNR $psnr dB"
    fi
  done
  return "$status"
}
