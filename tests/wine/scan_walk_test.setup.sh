# A folder whose Windows path is 250 characters: "fits.txt" in it makes a
# 259-character path (the longest a path buffer holds), "beyond.txt" one of
# 261, and the files of its subfolder are longer still.
a=$(printf 'a%.0s' $(seq 120))
b=$(printf 'b%.0s' $(seq 121))
deep="$DRIVE_D/long/$a/$b"
mkdir -p "$deep/sub"
echo fits > "$deep/fits.txt"
echo beyond > "$deep/beyond.txt"
echo beyond > "$deep/sub/beyond.txt"

# A folder linked back to its own parent: walking into it would find the
# same files again and again until the path limit.
mkdir -p "$DRIVE_D/tree"
ln -s .. "$DRIVE_D/tree/loop"
