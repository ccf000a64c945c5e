# Pass-through jobs on a file and on a pipe that cat keeps full: the look at the input before a
# refill that might wait (and the write of what standard output holds, when it would) costs
# nothing per record. With BENCH_BEFORE set to the tools directory of another build, each job
# is timed beside the same job of that build.
for job in "zelk-match 5 ." "zelk-columns 1-"; do
    for how in file pipe; do
        if [ "$how" = file ]; then cmd="JOB $OUT/plain.csv"; else cmd="cat $OUT/plain.csv | JOB"; fi
        if [ -n "${BENCH_BEFORE:-}" ]; then
            compare_cpu "${job%% *} $how" sh -c "${cmd//JOB/$job}" \
                --- "before" sh -c "${cmd//JOB/$BENCH_BEFORE/$job}"
        else
            bench_cpu "${job%% *} $how" sh -c "${cmd//JOB/$job}"
        fi
    done
done
