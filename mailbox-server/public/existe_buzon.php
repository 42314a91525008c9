<?php
// SPDX-License-Identifier: GPL-3.0-or-later
// existe_buzon.php?folder=F: "si" or "no".

declare(strict_types=1);

require_once __DIR__ . '/../lib/request.php';

velkorant_begin(false);
$folder = velkorant_folder();
velkorant_test_hook('existe_buzon', $folder);
velkorant_answer(200, velkorant_store()->exists($folder) ? 'si' : 'no');
