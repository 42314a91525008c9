<?php
// SPDX-License-Identifier: GPL-3.0-or-later
// crear_buzon.php?folder=F: creates the mailbox. A taken folder is a normal answer (status 200)
// beginning with "Error", which the client reads as "this name is taken".

declare(strict_types=1);

require_once __DIR__ . '/../lib/request.php';

velkorant_begin(true);
$folder = velkorant_folder();
velkorant_test_hook('crear_buzon', $folder);
if (velkorant_store()->create($folder)) {
    velkorant_answer(200, 'Buzon creado');
}
velkorant_answer(200, 'Error: el buzon ya existe');
